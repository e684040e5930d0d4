// glimmerpane-cli moving a register bank between two simulated units on
// their pseudo-terminals, and refusing a file of another product.
#include "support/cli_run.h"
#include "support/sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

using gp::test::cli;
using gp::test::Run;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// glimmerpane-cli on a disk that takes no file beyond `limit` bytes: the
// kernel's file size limit, with the signal it sends ignored so that the
// write fails with an error as on a full disk. Both carry over into the
// program started.
Run cliOnSmallDisk(const QStringList& args, rlim_t limit) {
    QProcess p;
    p.setChildProcessModifier([limit] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    });
    p.start(gp::test::cliPath(), args);
    return gp::test::finish(p);
}

} // namespace

class TestCliConfig : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void saveLoadIntoSecondUnitThenNoDifference() {
        QTemporaryDir dir;
        const QString file = dir.filePath("unit-a.cfg");
        gp::test::SimProcess a;
        gp::test::SimProcess b;
        QVERIFY(!a.path().isEmpty() && !b.path().isEmpty());
        // Give unit A settings of its own: register 28 hex = 10, 80 hex.
        QCOMPARE(cli({"--port", a.path(), "send", ":W280A000000#"}).status, 0);
        QCOMPARE(cli({"--port", a.path(), "send", ":W8078563412#"}).status, 0);

        Run r = cli({"--port", a.path(), "config", "save", file});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QByteArray saved = readAll(file);
        QVERIFY(saved.startsWith("#CFG_Format=1\r\n"));
        QVERIFY(saved.contains("\r\nN 40 0A000000\r\n"));

        r = cli({"--port", b.path(), "config", "diff", file});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains("0x28 (N 40): file 0A000000"), qPrintable(r.out));

        r = cli({"--port", b.path(), "config", "load", file, "--verify"});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QVERIFY(r.out.contains("confirmed 220 of 220"));
        QVERIFY2(r.out.contains("Read back: every register written holds its value."),
                 qPrintable(r.out));

        r = cli({"--port", b.path(), "config", "diff", file});
        QVERIFY2(r.status == 0, qPrintable(r.out));
        QVERIFY(r.out.contains("No difference."));
    }

    // A unit that answers nothing fails a transfer in its identity read, and
    // the failure names every frame it sent and got no answer to, in text
    // and in JSON.
    void silentUnitNamesEveryIdentityFrame_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("config save") << "save";
        QTest::newRow("config load") << "load";
    }
    void silentUnitNamesEveryIdentityFrame() {
        QFETCH(QString, command);
        QTemporaryDir dir;
        const QString file = dir.filePath("unit.cfg");
        if (command == "load") {
            const Run saved = cli({"--simulate", "--sim-virtual", "config", "save", file});
            QCOMPARE(saved.status, 0);
        }
        const QStringList args{
            "--simulate", "--sim-virtual", "--sim-option", "silent", "config", command, file};
        const Run r = cli(args);
        QCOMPARE(r.status, 1);
        for (const char* frame :
             {":R00#", ":U00#", ":U04#", ":R04#", ":R21#", ":R23#", ":R24#", ":R0F#"})
            QVERIFY2(r.err.contains(frame), qPrintable(r.err));
        const Run j = cli(QStringList{"--json"} + args);
        const QJsonObject doc = QJsonDocument::fromJson(j.out.toUtf8()).object();
        QCOMPARE(doc.value("unread").toArray().size(), 16);
    }

    // A file-size limit (ulimit -f) on the shell that runs the tool: the
    // kernel's signal would kill it with no word and leave its temporary
    // file; the save fails with the reason instead, and leaves no litter.
    void fileSizeLimitFailsTheSaveWithItsReason() {
        QTemporaryDir dir;
        const QString file = dir.filePath("unit.cfg");
        QProcess p;
        p.start("bash", {"-c", "ulimit -f 1 && exec \"$0\" \"$@\"", gp::test::cliPath(),
                         "--simulate", "--sim-virtual", "config", "save", file});
        const Run r = gp::test::finish(p);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("File too large"), qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // --yes answers every "read again?" with yes: against a unit that never
    // answers register 28 the save still ends, saves nothing and says why.
    void saveWithYesGivesUpOnARegisterNeverAnswered() {
        QTemporaryDir dir;
        const QString file = dir.filePath("unit.cfg");
        // 16 identity frames (its own 10 and the appended reads), then
        // rounds of a read of 257 frames (registers, U05) and register 28
        // read again on its own twice. The unit runs in virtual time: four
        // rounds take no real time.
        QStringList args{"--simulate", "--sim-virtual", "--yes"};
        for (int read = 0; read < 4; ++read)
            for (int n : {0x28 + 1, 258, 259})
                args << "--sim-option" << QStringLiteral("drop@%1").arg(16 + read * 259 + n);
        const Run r = cli(args + QStringList{"config", "save", file}, 300000);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("Not saved") && r.err.contains("28"), qPrintable(r.err));
        QVERIFY(!QFile::exists(file));
    }

    void wrongProductFileIsRefusedAndNothingWritten() {
        QTemporaryDir dir;
        const QString file = dir.filePath("other.cfg");
        const QString log = dir.filePath("traffic.log");
        {
            gp::test::SimProcess other({"--app-id", "2"});
            QCOMPARE(cli({"--port", other.path(), "config", "save", file}).status, 0);
        }
        gp::test::SimProcess unit;
        const Run r = cli({"--port", unit.path(), "--log", log, "config", "load", file});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("Wrong Product Type."));
        const QByteArray logged = readAll(log);
        QVERIFY(logged.contains("[Tx] :R00#"));
        QVERIFY(!logged.contains("[Tx] :W"));
        QVERIFY(!logged.contains("[Tx] :S"));
    }

    // A file naming only registers 00, 01 and 28: the load writes 28 and
    // nothing else, and the diff shows that same register beforehand.
    void partialFileChangesOnlyItsRegisters() {
        QTemporaryDir dir;
        const QString file = dir.filePath("partial.cfg");
        gp::test::SimProcess unit;
        QVERIFY(!unit.path().isEmpty());
        QCOMPARE(cli({"--port", unit.path(), "send", ":W3011223344#"}).status, 0);
        auto reg = [&](const QString& name) {
            const Run r = cli({"--port", unit.path(), "send", ":R" + name + "#"});
            const int at = r.out.indexOf("!R" + name);
            return at < 0 ? QString() : r.out.mid(at + 4, 8);
        };
        const QString r0 = reg("00"), r1 = reg("01");
        QVERIFY(!r0.isEmpty() && !r1.isEmpty());
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(
            ("#CFG_Format=1\r\nR 0 " + r0 + "\r\nR 1 " + r1 + "\r\nN 40 0B000000\r\n").toLatin1());
        f.close();

        Run r = cli({"--port", unit.path(), "config", "diff", file});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out.trimmed().split('\n').size(), 1);
        QVERIFY2(r.out.contains("0x28 (N 40): file 0B000000"), qPrintable(r.out));

        r = cli({"--port", unit.path(), "config", "load", file});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QVERIFY2(r.out.contains("confirmed 1 of 1"), qPrintable(r.out));
        QCOMPARE(reg("28"), QString("0B000000"));
        QCOMPARE(reg("30"), QString("11223344"));
    }

    void productSetKeepsFieldsNotGiven() {
        gp::test::SimProcess unit({"--vendor-id", "40000", "--reset-silence", "0"});
        QVERIFY(!unit.path().isEmpty());
        const Run r = cli({"--port", unit.path(), "product", "set", "--product", "QRU-430"});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QVERIFY2(r.out.contains(":W04409C0000#"), qPrintable(r.out));
        const Run back = cli({"--port", unit.path(), "send", ":R04#"});
        QVERIFY2(back.out.contains("!R04409C0000#"), qPrintable(back.out));
    }

    void badInputIsUsageError_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("content"); // of FILE; empty: no such file
        QTest::newRow("config load of a missing file")
            << QStringList{"config", "load", "FILE"} << QString();
        QTest::newRow("logo write of a file with a system action")
            << QStringList{"logo", "write", "FILE"} << QString(":L0011223344#\r\n:SAMBA#\r\n");
        QTest::newRow("config save without a file") << QStringList{"config", "save"} << QString();
        QTest::newRow("product set with an unknown feature")
            << QStringList{"product", "set", "--features", "MODBUS,LASER"} << QString();
    }
    void badInputIsUsageError() {
        QFETCH(QStringList, args);
        QFETCH(QString, content);
        QTemporaryDir dir;
        const QString file = dir.filePath("input");
        if (!content.isEmpty()) {
            QFile f(file);
            f.open(QIODevice::WriteOnly);
            f.write(content.toLatin1());
        }
        args.replaceInStrings("FILE", file);
        const QString log = dir.filePath("traffic.log");
        const Run r = cli(QStringList{"--simulate", "--log", log} + args);
        QCOMPARE(r.status, 2);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(!readAll(log).contains("[Tx] :L"));
    }

    // The old file stays whole when the new one does not fit, and the save
    // says it failed instead of "Saved".
    void saveOnFullDiskKeepsOldFileAndFails() {
        QTemporaryDir dir;
        const QString file = dir.filePath("unit.cfg");
        const QByteArray old("#CFG_Format=1\r\nthe engineer's last good save\r\n");
        writeAll(file, old);
        const Run r = cliOnSmallDisk({"--simulate", "config", "save", file}, 1024);
        QVERIFY2(r.status == 1, qPrintable(QString::number(r.status) + r.out + r.err));
        QVERIFY2(!r.out.contains("Saved"), qPrintable(r.out));
        QVERIFY2(r.err.contains("Cannot write"), qPrintable(r.err));
        QCOMPARE(readAll(file), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"unit.cfg"});
    }

    // A target that cannot take the file is found before the unit is read:
    // nothing is sent, and the engineer does not wait for a read in vain.
    void saveToUnwritableTargetSendsNothing_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("target");
        QTest::newRow("config save into a folder that does not exist")
            << "config save" << QString("no-such-folder/unit.cfg");
        QTest::newRow("config save onto the name of a folder")
            << "config save" << QString("folder");
        QTest::newRow("logo read into a folder that does not exist")
            << "logo read" << QString("no-such-folder/logo.lgo");
    }
    void saveToUnwritableTargetSendsNothing() {
        QFETCH(QString, command);
        QFETCH(QString, target);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QString log = dir.filePath("traffic.log");
        const Run r = cli(QStringList{"--simulate", "--log", log} + command.split(' ') +
                          QStringList{dir.filePath(target)});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("Cannot write"), qPrintable(r.err));
        QVERIFY2(!readAll(log).contains("[Tx]"), readAll(log).left(200).constData());
    }

    // The reply to one block of the read is lost (as on a busy machine): the
    // block is read again, and the copy is whole.
    void logoCopiedFromOneUnitToAnother() {
        QTemporaryDir dir;
        const QString file = dir.filePath("logo.lgo");
        gp::test::SimProcess a({"--fault", "drop@60"});
        gp::test::SimProcess b;
        QCOMPARE(cli({"--port", a.path(), "send", ":L05AABBCCDD#"}).status, 0);
        QCOMPARE(cli({"--port", a.path(), "logo", "read", file}).status, 0);
        const QStringList lines =
            QString::fromLatin1(readAll(file)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 128);
        QCOMPARE(lines[5], QString(":L05AABBCCDD#"));
        const Run w = cli({"--port", b.path(), "logo", "write", file});
        QVERIFY2(w.status == 0, qPrintable(w.err + w.out));
        const Run back = cli({"--port", b.path(), "send", ":L05#"});
        QVERIFY(back.out.contains("!L05AABBCCDD#"));
    }
};

QTEST_GUILESS_MAIN(TestCliConfig)
#include "test_cli_config.moc"
