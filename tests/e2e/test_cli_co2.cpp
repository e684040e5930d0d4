// glimmerpane-cli against the simulated unit and its CO2 sensor: the read of
// every setting, a write that is limited and read back, refused input, and
// the pass-through given back to the unit when the run is interrupted.
#include "support/cli_run.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using gp::test::cli;
using gp::test::cliPath;
using gp::test::finish;
using gp::test::Run;

namespace {

QString row(const QString& out, const QString& name) {
    for (const QString& line : out.split('\n'))
        if (line.startsWith(name + '\t'))
            return line.mid(name.size() + 1);
    return QString();
}

} // namespace

class TestCliCo2 : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    // A calibration replaces the sensor's own: without --yes and without a
    // terminal to ask on, it is refused before the sensor is even reached;
    // with --yes it runs.
    void calibrateAsksFirst_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("no terminal, no --yes") << QStringList{"co2", "calibrate"} << 2;
        QTest::newRow("--yes") << QStringList{"co2", "calibrate", "--yes"} << 0;
    }
    void calibrateAsksFirst() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.txt");
        const Run r = cli(QStringList{"--simulate", "--log", log} + args);
        QVERIFY2(r.status == status, qPrintable(r.err));
        if (status == 2) {
            QVERIFY2(r.err.contains("--yes") && r.err.contains("calibration"), qPrintable(r.err));
            QFile f(log);
            QVERIFY(!f.open(QIODevice::ReadOnly) || !f.readAll().contains("[Tx]"));
        } else {
            QVERIFY2(r.out.contains("level after"), qPrintable(r.out));
        }
    }

    void readShowsEverySetting() {
        const Run r = cli({"--simulate", "co2", "read"});
        QCOMPARE(r.status, 0);
        QCOMPARE(row(r.out, "filter"), "16");
        QCOMPARE(row(r.out, "ambient"), "400 ppm");
        QCOMPARE(row(r.out, "interval"), "8 days (raw 13824)");
        QCOMPARE(row(r.out, "initial-interval"), "1 days (stored 12096)");
        QCOMPARE(row(r.out, "method"), "Standard");
        QCOMPARE(row(r.out, "threshold"), "300 ppm");
        QVERIFY(row(r.out, "level").endsWith(" ppm"));
        QVERIFY(row(r.out, "level") != "- ppm");
    }

    void setLimitsAndReadsBack() {
        const Run r = cli({"--simulate", "co2", "set", "ambient", "6000", "--clamp"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains("5000 is written instead"));
        QCOMPARE(row(r.out, "ambient"), "5000 ppm");
    }

    // The sensor answers " ?" to a filter it cannot take and keeps its old
    // one: that is a failure, whatever it shows afterwards.
    void refusedWriteFails_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("fraction, old value shown") << "16.7";
        QTest::newRow("fraction of the old value") << "16.0";
    }
    void refusedWriteFails() {
        QFETCH(QString, value);
        const Run r = cli({"--simulate", "co2", "set", "filter", value});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("refused"), qPrintable(r.err));
        const Run j = cli({"--simulate", "--json", "co2", "set", "filter", value});
        QCOMPARE(j.status, 1);
        QVERIFY2(j.out.contains("\"error\"") && j.out.contains("refused"), qPrintable(j.out));
    }

    void badValueSendsNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("not a number") << QStringList{"co2", "set", "ambient", "abc"};
        QTest::newRow("unknown setting") << QStringList{"co2", "set", "colour", "5"};
        QTest::newRow("method is not written") << QStringList{"co2", "set", "method", "1"};
        QTest::newRow("ambient above its range") << QStringList{"co2", "set", "ambient", "9000"};
        QTest::newRow("interval above its range") << QStringList{"co2", "set", "interval", "40"};
        QTest::newRow("threshold below its range") << QStringList{"co2", "set", "threshold", "-1"};
        QTest::newRow("product name too long")
            << QStringList{"product", "set", "--product", "QRU-420-LONGNAME"};
        QTest::newRow("unknown feature") << QStringList{"product", "set", "--features", "Wifi6"};
    }
    void badValueSendsNothing() {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.txt");
        const Run r = cli(QStringList{"--simulate", "--log", log} + args);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
        QFile f(log);
        QVERIFY(!f.open(QIODevice::ReadOnly) || !f.readAll().contains("[Tx]"));
    }

    // Ctrl+C in the middle of the read: the sensor goes back to stream mode
    // and the unit gets the line back before the program ends.
    void interruptEndsThePassThrough() {
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.log");
        QProcess p;
        p.start(cliPath(), {"--simulate", "--log", log, "co2", "read"});
        QVERIFY(p.waitForStarted());
        auto logText = [&] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
        };
        // Interrupted once the pass-through is on and the read runs.
        QTRY_VERIFY_WITH_TIMEOUT(logText().contains("[Tx] p 10"), 20000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        const Run r = finish(p);
        QCOMPARE(r.status, 130);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromLatin1(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines.at(lines.size() - 2), "[Tx] K 1");
        QCOMPARE(lines.last(), "[Tx] !");
    }
};

QTEST_GUILESS_MAIN(TestCliCo2)
#include "test_cli_co2.moc"
