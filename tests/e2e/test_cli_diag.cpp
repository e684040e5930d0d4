// glimmerpane-cli against the simulated unit: diag, watch, calibration and
// calibrate-outputs.
#include "support/cli_run.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using gp::test::cli;
using gp::test::Run;

class TestCliDiag : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void watchPrintsHeaderAndThreeSamples() {
        const Run r = cli({"--simulate", "watch", "--count", "3", "--interval", "100"});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        const QStringList header = lines.first().split(',');
        QCOMPARE(header.first(), QString("t_ms"));
        QVERIFY(header.contains("a2d0_count"));
        QVERIFY(header.contains("NTC10"));
        qint64 previous = -1;
        for (const QString& line : lines.mid(1)) {
            const QStringList cells = line.split(',');
            QCOMPARE(cells.size(), header.size());
            const qint64 t = cells.first().toLongLong();
            QVERIFY(t > previous);
            previous = t;
            bool ok = false;
            QVERIFY(cells.at(header.indexOf("NTC10")).toDouble(&ok) > 0 && ok);
        }
    }

    void co2OptionAnywhereWatchesTheCo2Level() {
        const Run r = cli({"--simulate", "watch", "--count", "2", "--co2"});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.first().contains("co2", Qt::CaseInsensitive), qPrintable(lines.first()));
    }

    void watchRefusesBadOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("channel past the cache") << QStringList{"watch", "--a2d", "13"};
        QTest::newRow("count not a number") << QStringList{"watch", "--count", "x"};
        QTest::newRow("unknown option") << QStringList{"watch", "--humidity"};
    }
    void watchRefusesBadOptions() {
        QFETCH(QStringList, args);
        const Run r = cli(QStringList{"--simulate"} + args);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
    }

    void diagShowsResetCauseChipAndDebugValues() {
        const Run r = cli({"--simulate", "diag"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("Last Reset Cause: Power-up"));
        QVERIFY(r.out.contains(QRegularExpression("Processor ChipID: [0-9A-F]{8} SAM")));
        QVERIFY(r.out.contains("[10]="));
    }

    void calibrateOutputsShowsNewCoefficients() {
        const Run before = cli({"--simulate", "calibration"});
        QCOMPARE(before.status, 0);
        QVERIFY(before.out.contains("AO1_interceptY\t0\n"));
        const Run after = cli({"--simulate", "calibrate-outputs"});
        QCOMPARE(after.status, 0);
        QVERIFY(!after.out.contains("AO1_interceptY\t0\n"));
        QVERIFY(after.out.contains("screen rate\t"));
    }

    // A unit without analogue outputs: refused like the desktop tool's
    // disabled button, and ":SC#" never reaches the unit.
    void calibrateOutputsRefusedWithoutOutputs() {
        gp::test::SimProcess unit({"--features", "50"});
        QVERIFY(!unit.path().isEmpty());
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.txt");
        const Run r = cli({"--port", unit.path(), "--log", log, "calibrate-outputs"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("no analogue outputs"), qPrintable(r.err));
        QVERIFY(r.err.contains("nothing was sent"));
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray traffic = f.readAll();
        QVERIFY2(traffic.contains(":R01#"), traffic.constData());
        QVERIFY(!traffic.contains(":SC#"));
    }
};

QTEST_GUILESS_MAIN(TestCliDiag)
#include "test_cli_diag.moc"
