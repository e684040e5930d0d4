// glimmerpane-cli on several ports at once: each unit's result under its own
// port, one file per unit, every unit loaded, a failed unit named while the
// others succeed, and the runs refused before anything is sent. The units
// are glimmerpane-sim processes on pseudo-terminals.

#include "cli/unit_file_name.h"
#include "support/cli_run.h"
#include "support/sim_process.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <vector>

using gp::test::cli;
using gp::test::Run;
using gp::test::SimProcess;

namespace {

// Several simulated units, each with its own serial number Q-1000n.
struct Units {
    explicit Units(int n, const QList<QStringList>& extra = {}) {
        for (int i = 0; i < n; ++i) {
            QStringList args{"--serial", QStringLiteral("Q-1000%1").arg(i + 1)};
            args += extra.value(i);
            sims.push_back(std::make_unique<SimProcess>(args));
            ports << sims.back()->path();
        }
    }
    bool started() const { return !ports.contains(QString()); }
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList ports;
};

// One register of a unit as it holds it, read through the single-port path.
QString reg(const QString& port, const QString& hex) {
    const Run r = cli({"--port", port, "send", ":R" + hex + "#"});
    const int at = r.out.indexOf("!R" + hex);
    return at < 0 ? QString() : r.out.mid(at + 4, 8);
}

bool setReg(const QString& port, const QString& hex, const QString& value) {
    return cli({"--port", port, "send", ":W" + hex + value + "#"}).status == 0;
}

// The lines a unit printed on one stream, without their "[PORT] " tag.
QStringList linesOf(const QString& text, const QString& port) {
    QStringList out;
    const QString tag = "[" + port + "] ";
    for (const QString& l : text.split('\n'))
        if (l.startsWith(tag))
            out << l.mid(tag.size());
    return out;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether process pid has every one of paths open.
bool holdsOpen(qint64 pid, const QStringList& paths) {
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    QStringList open;
    for (const QString& fd :
         QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        open << QFile::symLinkTarget(fds + '/' + fd);
    for (const QString& path : paths)
        if (!open.contains(QFileInfo(path).canonicalFilePath()) && !open.contains(path))
            return false;
    return true;
}

QJsonObject parse(const QString& out) {
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

} // namespace

class TestCliRig : public QObject {
    Q_OBJECT
  private slots:
    void fileNamesPerUnit_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("sn");
        QTest::addColumn<QString>("expected"); // "-" for refused
        QTest::newRow("no placeholder") << "unit.cfg"
                                        << "ttyUSB0"
                                        << ""
                                        << ""
                                        << "unit.cfg";
        QTest::newRow("port path gives its base name") << "u-{port}.cfg"
                                                       << "/dev/ttyUSB0"
                                                       << ""
                                                       << ""
                                                       << "u-ttyUSB0.cfg";
        QTest::newRow("port name as given") << "u-{port}.cfg"
                                            << "ttyACM1"
                                            << ""
                                            << ""
                                            << "u-ttyACM1.cfg";
        QTest::newRow("serial number") << "/tmp/{sn}.cfg"
                                       << "ttyUSB0"
                                       << ""
                                       << "Q-48225"
                                       << "/tmp/Q-48225.cfg";
        QTest::newRow("unique id and port, twice")
            << "{uid}/{port}-{uid}.cfg"
            << "ttyS0"
            << "51525531-0A1B2C3D"
            << ""
            << "51525531-0A1B2C3D/ttyS0-51525531-0A1B2C3D.cfg";
        // A value never leaves the folder, hides the file or adds a placeholder.
        QTest::newRow("slashes and dots cannot climb") << "d/{sn}.cfg"
                                                       << "x"
                                                       << ""
                                                       << "../../etc"
                                                       << "d/_._.._etc.cfg";
        QTest::newRow("leading dot does not hide the file") << "{sn}"
                                                            << "x"
                                                            << ""
                                                            << ".cfg"
                                                            << "_cfg";
        QTest::newRow("braces in a value are not expanded again") << "{port}-{sn}.cfg"
                                                                  << "{sn}"
                                                                  << ""
                                                                  << "Q-1"
                                                                  << "_sn_-Q-1.cfg";
        QTest::newRow("spaces and non-ASCII") << "{sn}.cfg"
                                              << "x"
                                              << ""
                                              << "Q 1\u00e9"
                                              << "Q_1_.cfg";
        QTest::newRow("no serial number") << "{sn}.cfg"
                                          << "ttyUSB0"
                                          << ""
                                          << ""
                                          << "-";
        QTest::newRow("unique id not read") << "{uid}.cfg"
                                            << "ttyUSB0"
                                            << ""
                                            << "Q-1"
                                            << "-";
    }
    void fileNamesPerUnit() {
        QFETCH(QString, text);
        QFETCH(QString, port);
        QFETCH(QString, uid);
        QFETCH(QString, sn);
        QFETCH(QString, expected);
        const auto got = gp::cli::expandUnitPlaceholders(text, {port, uid, sn});
        const QString why = got.error();
        if (expected == "-") {
            QVERIFY(!got);
            QVERIFY2(why.contains(text), qPrintable(why));
        } else {
            QVERIFY2(got, qPrintable(why));
            QCOMPARE(*got, expected);
        }
        QCOMPARE(gp::cli::hasUnitPlaceholder(text), text.contains('{'));
    }

    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    // Both forms of naming the ports; every line on stdout belongs to one
    // unit, whole, and each unit shows what is its own.
    void resultOfEachUnitUnderItsPort_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("ownLine"); // %1: the unit's number
        QTest::addColumn<QString>("commonLine");
        QTest::newRow("identity") << QStringList{"identity"} << "S/N: Q-1000%1"
                                  << "Date Code: 14/03/24";
        QTest::newRow("diag") << QStringList{"diag"} << "Product: QRU-42%1"
                              << "Last Reset Cause: Power-up";
    }
    void resultOfEachUnitUnderItsPort() {
        QFETCH(QStringList, command);
        QFETCH(QString, ownLine);
        QFETCH(QString, commonLine);
        Units units(3, {{"--product-name", "QRU-421"},
                        {"--product-name", "QRU-422"},
                        {"--product-name", "QRU-423"}});
        QVERIFY(units.started());
        const QStringList& p = units.ports;
        const Run r = cli(QStringList{"--port", p[0], "--ports", p[1] + "," + p[2]} + command);
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QStringList first;
        for (int i = 0; i < 3; ++i) {
            const QStringList lines = linesOf(r.out, p[i]);
            QVERIFY2(lines.contains(ownLine.arg(i + 1)), qPrintable(r.out));
            QVERIFY(lines.contains(commonLine));
            // The same command gives each unit as many lines.
            if (i == 0)
                first = lines;
            QCOMPARE(lines.size(), first.size());
        }
        for (const QString& l : r.out.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(l.startsWith("[" + p[0] + "] ") || l.startsWith("[" + p[1] + "] ") ||
                         l.startsWith("[" + p[2] + "] "),
                     qPrintable(l));
        QVERIFY2(r.err.contains("all 3 units succeeded"), qPrintable(r.err));
    }

    void jsonHasOneObjectPerUnitInPortOrder() {
        Units units(3);
        QVERIFY(units.started());
        const Run r = cli({"--json", "--ports", units.ports.join(','), "identity"});
        QCOMPARE(r.status, 0);
        const QJsonObject doc = parse(r.out);
        QCOMPARE(doc.value("status").toInt(-1), 0);
        QCOMPARE(doc.value("failed").toArray().size(), 0);
        const QJsonArray list = doc.value("units").toArray();
        QCOMPARE(list.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject u = list.at(i).toObject();
            QCOMPARE(u.value("port").toString(), units.ports[i]);
            QCOMPARE(u.value("status").toInt(-1), 0);
            QCOMPARE(u.value("serialNumber").toString(), QStringLiteral("Q-1000%1").arg(i + 1));
        }
    }

    // A unit that is not there fails on its own: named at the end with its
    // status and why, while the units around it give their results.
    void missingPortIsNamedWhileTheOthersSucceed_data() {
        QTest::addColumn<bool>("json");
        QTest::newRow("text") << false;
        QTest::newRow("json") << true;
    }
    void missingPortIsNamedWhileTheOthersSucceed() {
        QFETCH(bool, json);
        Units units(2);
        QVERIFY(units.started());
        QTemporaryDir dir;
        const QString missing = dir.filePath("ttyUSB9");
        const QStringList ports{units.ports[0], missing, units.ports[1]};
        QStringList args{"--ports", ports.join(','), "identity"};
        if (json)
            args.prepend("--json");
        const Run r = cli(args);
        QCOMPARE(r.status, 1);
        const int summary = r.err.indexOf("1 of 3 units failed");
        QVERIFY2(summary >= 0, qPrintable(r.err));
        QVERIFY2(r.err.mid(summary).contains("  " + missing + ": exit status 1: "),
                 qPrintable(r.err));
        QVERIFY(!r.err.mid(summary).contains(units.ports[0] + ":"));
        if (!json) {
            QVERIFY(linesOf(r.out, units.ports[0]).contains("S/N: Q-10001"));
            QVERIFY(linesOf(r.out, units.ports[1]).contains("S/N: Q-10002"));
            QVERIFY(linesOf(r.out, missing).isEmpty());
            return;
        }
        const QJsonObject doc = parse(r.out);
        QCOMPARE(doc.value("status").toInt(), 1);
        QCOMPARE(doc.value("failed").toArray(), QJsonArray{missing});
        const QJsonArray list = doc.value("units").toArray();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(0).toObject().value("serialNumber").toString(), QString("Q-10001"));
        QCOMPARE(list.at(1).toObject().value("port").toString(), missing);
        QCOMPARE(list.at(1).toObject().value("status").toInt(), 1);
        QVERIFY(!list.at(1).toObject().value("error").toString().isEmpty());
        QCOMPARE(list.at(2).toObject().value("serialNumber").toString(), QString("Q-10002"));
    }

    // Each file holds its own unit's values: register 28 differs from unit
    // to unit, and the file named after a unit holds that unit's value.
    void saveWritesOneFilePerUnitWithItsOwnValues() {
        Units units(3);
        QVERIFY(units.started());
        const QStringList values{"0A000000", "0B000000", "0C000000"};
        for (int i = 0; i < 3; ++i)
            QVERIFY(setReg(units.ports[i], "28", values[i]));
        QTemporaryDir dir;
        const QString file = dir.filePath("unit-{port}-{sn}.cfg");
        const Run r = cli({"--ports", units.ports.join(','), "config", "save", file});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QString path = dir.filePath(QStringLiteral("unit-%1-Q-1000%2.cfg")
                                                  .arg(QFileInfo(units.ports[i]).fileName())
                                                  .arg(i + 1));
            const QByteArray saved = readAll(path);
            QVERIFY2(saved.contains("\r\nN 40 " + values[i].toLatin1() + "\r\n"), qPrintable(path));
            QVERIFY(linesOf(r.out, units.ports[i]).contains("Saved " + path));
        }
    }

    // Two units that give one file name: the file is one unit's, the other
    // unit saves nothing and fails, naming the unit that has the file.
    void twoUnitsNeverWriteOneFile() {
        // One serial number on both units.
        Units units(2, {{"--serial", "Q-7"}, {"--serial", "Q-7"}});
        QVERIFY(units.started());
        QVERIFY(setReg(units.ports[0], "28", "0A000000"));
        QVERIFY(setReg(units.ports[1], "28", "0B000000"));
        QTemporaryDir dir;
        const Run r = cli({"--fast", "--ports", units.ports.join(','), "config", "save",
                           dir.filePath("{sn}.cfg")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("1 of 2 units failed"), qPrintable(r.err));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files, QStringList{"Q-7.cfg"});
        const bool firstSaved = !linesOf(r.out, units.ports[0]).isEmpty();
        const QString saver = units.ports[firstSaved ? 0 : 1];
        const QString other = units.ports[firstSaved ? 1 : 0];
        QVERIFY2(linesOf(r.err, other).join('\n').contains("Not saved") &&
                     linesOf(r.err, other).join('\n').contains(saver),
                 qPrintable(r.err));
        QVERIFY(readAll(dir.filePath("Q-7.cfg"))
                    .contains(firstSaved ? "\r\nN 40 0A000000\r\n" : "\r\nN 40 0B000000\r\n"));
    }

    // A unit without a serial number cannot be named by it: that unit
    // fails before its read and saves nothing, the other one saves.
    void unitWithoutSerialNumberIsNotSavedUnderIt() {
        Units units(2, {{}, {"--serial", "0"}});
        QVERIFY(units.started());
        QTemporaryDir dir;
        const Run r = cli({"--fast", "--ports", units.ports.join(','), "config", "save",
                           dir.filePath("{sn}.cfg")});
        QCOMPARE(r.status, 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Q-10001.cfg"});
        QVERIFY2(linesOf(r.err, units.ports[1]).join('\n').contains("no serial number"),
                 qPrintable(r.err));
        QVERIFY(r.err.contains("  " + units.ports[1] + ": exit status 1"));
    }

    // A load reaches every unit: each one's registers end as the file says,
    // whatever each held before. A unit of another product refuses the
    // file and fails alone.
    void loadReachesEveryUnit_data() {
        QTest::addColumn<int>("otherProduct"); // index of the unit of another product, or -1
        QTest::newRow("three of one product") << -1;
        QTest::newRow("middle unit of another product") << 1;
    }
    void loadReachesEveryUnit() {
        QFETCH(int, otherProduct);
        QList<QStringList> extra(3);
        if (otherProduct >= 0)
            extra[otherProduct] = {"--app-id", "2"};
        Units units(3, extra);
        QVERIFY(units.started());
        const int same = otherProduct == 0 ? 1 : 0;
        const QString r0 = reg(units.ports[same], "00"), r1 = reg(units.ports[same], "01");
        QVERIFY(!r0.isEmpty() && !r1.isEmpty());
        const QStringList before{"01000000", "02000000", "03000000"};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(setReg(units.ports[i], "28", before[i]));
            QVERIFY(setReg(units.ports[i], "30", before[i]));
        }
        QTemporaryDir dir;
        const QString file = dir.filePath("line.cfg");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("#CFG_Format=1\r\nR 0 " + r0 + "\r\nR 1 " + r1 +
                 "\r\nN 40 5A000000\r\nN 48 11223344\r\n")
                    .toLatin1());
        f.close();
        const Run r = cli({"--ports", units.ports.join(','), "config", "load", file});
        QCOMPARE(r.status, otherProduct < 0 ? 0 : 1);
        for (int i = 0; i < 3; ++i) {
            const QString& port = units.ports[i];
            if (i == otherProduct) {
                QVERIFY2(linesOf(r.err, port).join('\n').contains("Wrong Product Type."),
                         qPrintable(r.err));
                QCOMPARE(reg(port, "28"), before[i]);
                QCOMPARE(reg(port, "30"), before[i]);
                QVERIFY(r.err.contains("  " + port + ": exit status 1"));
                continue;
            }
            QVERIFY2(linesOf(r.out, port).join('\n').contains("confirmed 2 of 2"),
                     qPrintable(r.out + r.err));
            QCOMPARE(reg(port, "28"), QString("5A000000"));
            QCOMPARE(reg(port, "30"), QString("11223344"));
        }
    }

    // Every run that cannot be right is refused before a port is opened:
    // exit status 2, no traffic on any unit, no file written.
    void refusedBeforeAnythingIsSent_data() {
        QTest::addColumn<QStringList>("args"); // PORTS stands for the two units' ports
        QTest::addColumn<QString>("why");
        QTest::newRow("save to one file for all")
            << QStringList{"--ports", "PORTS", "config", "save", "DIR/unit.cfg"} << "{port}";
        QTest::newRow("save with --all-nonvol to one file")
            << QStringList{"--ports", "PORTS", "config", "save", "--all-nonvol", "DIR/unit.cfg"}
            << "{sn}";
        QTest::newRow("a command for one unit only")
            << QStringList{"--ports", "PORTS", "send", ":R00#"} << "one port at a time";
        QTest::newRow("one unit's backup into several")
            << QStringList{"--ports",       "PORTS",    "--yes",          "firmware",
                           "DIR/../fw.bin", "--backup", "DIR/../unit.cfg"}
            << "alone";
        QTest::newRow("one port named twice")
            << QStringList{"--ports", "PORTS", "--port", "FIRST", "identity"} << "are one port";
        QTest::newRow("simulated unit")
            << QStringList{"--ports", "PORTS", "--simulate", "identity"} << "--simulate";
        QTest::newRow("one traffic log for all")
            << QStringList{"--ports", "PORTS", "--log", "DIR/all.log", "identity"} << "--log";
    }
    void refusedBeforeAnythingIsSent() {
        QFETCH(QStringList, args);
        QFETCH(QString, why);
        Units units(2);
        QVERIFY(units.started());
        QTemporaryDir dir;
        const bool ownLog = !args.contains("--log");
        QStringList full;
        for (QString a : args) {
            a.replace("PORTS", units.ports.join(','));
            a.replace("FIRST", units.ports[0]);
            a.replace("DIR", dir.path());
            full << a;
        }
        if (ownLog)
            full << "--log" << dir.filePath("{port}.log");
        const Run r = cli(full);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(why), qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{});
    }

    // A guided run on every unit at once: each unit's machine runs to its
    // end, and with --json each step line names its unit.
    void profileChangesEveryUnit() {
        Units units(2);
        QVERIFY(units.started());
        QTemporaryDir dir;
        const QString pro = dir.filePath("p.pro");
        QFile f(pro);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[profile_0]\r\nname=Test\r\ncfg=0AC00300\r\n");
        f.close();
        for (const QString& port : units.ports)
            QVERIFY(reg(port, "01") != "0AC00300");
        const Run r = cli({"--ports", units.ports.join(','), "--yes", "--json", "profile", pro});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QStringList completed;
        for (const QString& line : r.out.split('\n')) {
            const QJsonObject step = QJsonDocument::fromJson(line.toUtf8()).object();
            if (step.value("step").toString() == "complete")
                completed << step.value("port").toString();
        }
        completed.sort();
        QStringList expected = units.ports;
        expected.sort();
        QCOMPARE(completed, expected);
        for (const QString& port : units.ports)
            QCOMPARE(reg(port, "01"), QString("0AC00300"));
    }

    // Ctrl+C reaches every unit: the run ends at once with 130, each unit
    // stopping its read, and no file is written.
    void interruptStopsEveryUnit() {
        Units units(2);
        QVERIFY(units.started());
        QTemporaryDir dir;
        QProcess p;
        p.start(gp::test::cliPath(),
                {"--ports", units.ports.join(','), "config", "save", dir.filePath("{port}.cfg")});
        QVERIFY(p.waitForStarted());
        // Interrupted once it has both ports open (it watches Ctrl+C before
        // it opens them), not after a fixed time: on a busy machine the
        // program may not have reached main() after a second and a half.
        QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(p.processId(), units.ports), 20000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        const Run r = gp::test::finish(p, 20000);
        QCOMPARE(r.status, 130);
        QVERIFY2(r.err.contains("2 of 2 units failed"), qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestCliRig)
#include "test_cli_rig.moc"
