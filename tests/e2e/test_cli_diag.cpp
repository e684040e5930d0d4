// glimmerpane-cli against the simulated unit: diag, watch, calibration and
// calibrate-outputs.
#include "support/cli_run.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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
        // The unit in virtual time: a loaded machine cannot make the poll
        // miss its replies, so the row tests the output, not the timing.
        const Run r =
            cli({"--simulate", "--sim-virtual", "watch", "--count", "3", "--interval", "100"});
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
        // Every debug item that holds a value is read and printed (0B, the
        // free heap, is [6]); no row stands for an item never read.
        QVERIFY2(r.out.contains("[6]=00120000"), qPrintable(r.out));
        QVERIFY(r.out.contains("[4]=") && r.out.contains("[9]="));
        QVERIFY(!r.out.contains("[5]=") && !r.out.contains("[10]="));
    }

    // A reply lost once is read again and the true value printed; a reply the
    // unit never gives fails the command, naming the frame, instead of
    // printing a zero as the unit's value.
    void lostRepliesAreReadAgainOrNamed_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("named"); // in the error when it fails
        // diag: D01 D02 D03 S R01..R0F R25 R2E U05 D0A, then three retries,
        // then the debug items.
        QTest::newRow("diag, status lost once")
            << QStringList{"diag"} << QStringList{"drop@4"} << 0 << QString();
        QTest::newRow("diag, chip id lost once")
            << QStringList{"diag"} << QStringList{"drop@22"} << 0 << QString();
        QTest::newRow("diag, status never answered")
            << QStringList{"diag"} << QStringList{"drop@4", "drop@24", "drop@25", "drop@26"} << 1
            << ":S#";
        // calibration: S R01 R10..R17 R1A..R20 D0A; R11 is output 1's slope.
        QTest::newRow("calibration, coefficient lost once")
            << QStringList{"calibration"} << QStringList{"drop@4"} << 0 << QString();
        QTest::newRow("calibration, coefficient never answered")
            << QStringList{"calibration"} << QStringList{"drop@4", "drop@19", "drop@20", "drop@21"}
            << 1 << ":R11#";
    }
    void lostRepliesAreReadAgainOrNamed() {
        QFETCH(QStringList, command);
        QFETCH(QStringList, faults);
        QFETCH(int, status);
        QFETCH(QString, named);
        const Run clean = cli(QStringList{"--simulate"} + command);
        QCOMPARE(clean.status, 0);
        QStringList args{"--simulate"};
        for (const QString& f : faults)
            args << "--sim-option" << f;
        const Run r = cli(args + command);
        QCOMPARE(r.status, status);
        // The unit's debug values ("[i]=") count what happened on its side,
        // a lost reply included; everything else is the same as read cleanly.
        auto settled = [](const QString& out) {
            QStringList lines = out.split('\n');
            lines.removeIf([](const QString& l) { return l.startsWith('['); });
            return lines;
        };
        if (status == 0) {
            QCOMPARE(settled(r.out), settled(clean.out));
        } else {
            QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
            QVERIFY2(r.err.contains(named), qPrintable(r.err));
            // With --json the failure carries its message.
            const Run j = cli(QStringList{"--json"} + args + command);
            QCOMPARE(j.status, 1);
            const QJsonObject doc = QJsonDocument::fromJson(j.out.toUtf8()).object();
            QCOMPARE(doc.value("status").toInt(), 1);
            QVERIFY2(doc.value("error").toString().contains(named), qPrintable(j.out));
        }
    }

    // A lost sample is an empty field, never a zero or the previous value.
    void watchLeavesLostSamplesEmpty_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("column");
        // Frames of a sample: A00, then I04 I02 I05 I06 I07 I03 I0D I10.
        QTest::newRow("first A2D reply lost") << "drop@1"
                                              << "a2d0_count";
        QTest::newRow("first NTC10 reply lost") << "drop@2"
                                                << "NTC10";
        QTest::newRow("second NTC10 reply lost") << "drop@11"
                                                 << "NTC10";
    }
    void watchLeavesLostSamplesEmpty() {
        QFETCH(QString, fault);
        QFETCH(QString, column);
        const Run r =
            cli({"--simulate", "--sim-option", fault, "watch", "--count", "2", "--interval", "0"});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const QStringList header = lines.first().split(',');
        const int at = static_cast<int>(header.indexOf(column));
        QVERIFY(at > 0);
        const int lostRow = fault == "drop@11" ? 2 : 1;
        for (int row = 1; row <= 2; ++row) {
            const QStringList cells = lines.at(row).split(',');
            QCOMPARE(cells.size(), header.size());
            if (row == lostRow)
                QCOMPARE(cells.at(at), QString());
            else
                QVERIFY2(!cells.at(at).isEmpty(), qPrintable(lines.at(row)));
        }
        QVERIFY(r.err.contains("left empty"));
    }

    void calibrateOutputsShowsNewCoefficients() {
        const Run before = cli({"--simulate", "calibration"});
        QCOMPARE(before.status, 0);
        QVERIFY(before.out.contains("AO1_interceptY\t0\n"));
        const Run after = cli({"--simulate", "--yes", "calibrate-outputs"});
        QCOMPARE(after.status, 0);
        QVERIFY(!after.out.contains("AO1_interceptY\t0\n"));
        QVERIFY(after.out.contains("screen rate\t"));
    }

    // Without --yes and without a terminal to ask on, the calibration is
    // refused before ":SC#" goes out.
    void calibrateOutputsAsksFirst() {
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.txt");
        const Run r = cli({"--simulate", "--log", log, "calibrate-outputs"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("--yes") && r.err.contains("coefficients"), qPrintable(r.err));
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(!f.readAll().contains(":SC#"));
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
