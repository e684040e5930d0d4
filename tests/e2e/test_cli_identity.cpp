// glimmerpane-cli against the simulated unit: identity, send, comms.
#include "support/cli_run.h"
#include "support/sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using gp::test::cli;
using gp::test::Run;

class TestCliIdentity : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void identityPrintsTheLinesAndFeatures() {
        const Run r = cli({"--simulate", "identity"});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("UniqueID: 51525531-0A1B2C3D-00420017-9F3E61C4"));
        QCOMPARE(lines.value(1), QStringLiteral("Firmware Version: 2.21"));
        QVERIFY(lines.last().startsWith("Features: "));
        QVERIFY(lines.last().contains("MODBUS"));
        QVERIFY(lines.last().contains("CO2"));
    }

    // Names holding a terminal's escape sequence and a line break are
    // printed as one line of printable text each.
    void unitTextReachesTheTerminalPrintable() {
        gp::test::SimProcess unit(
            {"--product-name", "Q\x1b[2J\n\x07", "--vendor-name", "\x1b]0;owned\x07V"});
        QVERIFY(!unit.path().isEmpty());
        const Run r = cli({"--port", unit.path(), "diag"});
        QVERIFY2(!r.out.contains(QChar(0x1b)) && !r.out.contains(QChar(0x07)),
                 qPrintable(r.out.toUtf8().toPercentEncoding(" \n:")));
        QVERIFY2(r.out.contains("\nVendor: ?]0;owned?V\nProduct: Q?[2J??\n"),
                 qPrintable(r.out.left(300)));
    }

    // The identity read carries the product name, serial number and date
    // code itself, so the identity shows them without a diagnostics read.
    void identityShowsProductSerialAndDateCode() {
        const Run r = cli({"--simulate", "--json", "identity"});
        QCOMPARE(r.status, 0);
        const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(doc.value("productType").toString(), QStringLiteral("QRU-420"));
        QCOMPARE(doc.value("serialNumber").toString(), QStringLiteral("Q-48225"));
        QCOMPARE(doc.value("dateCode").toString(), QStringLiteral("14/03/24"));
        const Run text = cli({"--simulate", "identity"});
        QVERIFY2(text.out.contains("Product Type: QRU-420\nS/N: Q-48225\nDate Code: 14/03/24\n"),
                 qPrintable(text.out));
    }

    // A reply lost in the batch and in every retry (frame 11 is :R24#, 12
    // :R03#; 17..20 are the retries of the one lost frame).
    void identityFailsOnlyWhenAPrintedValueIsLost_data() {
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("status");
        QTest::newRow("device instance, not printed") << 11 << 0;
        QTest::newRow("serial number, printed") << 12 << 1;
    }
    void identityFailsOnlyWhenAPrintedValueIsLost() {
        QFETCH(int, frame);
        QFETCH(int, status);
        QStringList args{"--simulate"};
        for (int n : {frame, 17, 18, 19, 20})
            args << "--sim-option" << QStringLiteral("drop@%1").arg(n);
        const Run r = cli(args + QStringList{"identity"});
        QCOMPARE(r.status, status);
        if (status != 0) {
            QVERIFY2(r.err.contains(":R03#"), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
    }

    void malformedFrameIsRefusedAndNothingSent() {
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.log");
        const Run r = cli({"--simulate", "--log", log, "send", ":R0#"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("nothing was sent"));
        QFile f(log);
        const QByteArray logged = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        QVERIFY(!logged.contains("[Tx]"));
    }

    // A read or register write whose reply is lost is sent again; a system
    // command is sent once.
    void sendResendsOnlyWhatDoesNoHarmTwice_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("sent");
        QTest::newRow("read") << ":R01#" << 0 << 2;
        QTest::newRow("register write") << ":W2801020304#" << 0 << 2;
        QTest::newRow("reset") << ":SR#" << 1 << 1;
    }
    void sendResendsOnlyWhatDoesNoHarmTwice() {
        QFETCH(QString, frame);
        QFETCH(int, status);
        QFETCH(int, sent);
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.log");
        const Run r = cli({"--simulate", "--sim-option", "drop", "--log", log, "send", frame});
        QCOMPARE(r.status, status);
        QFile f(log);
        const QByteArray logged = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        // On a busy machine the second reply may come late too: a third
        // sending is no fault, a first one alone is.
        const int times = int(logged.count(("[Tx] " + frame).toLatin1()));
        if (sent == 1)
            QCOMPARE(times, 1);
        else
            QVERIFY2(times >= sent, qPrintable(QString::number(times)));
    }

    void commsSetWritesAndReadsBack() {
        const Run r =
            cli({"--simulate", "comms", "set", "--address", "12", "--baud", "1", "--parity", "2"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("address\t12\n"), qPrintable(r.out));
        QVERIFY(r.out.contains("baud\t1\t19200\n"));
        QVERIFY(r.out.contains("parity\t2\tOdd\n"));
        QVERIFY(r.out.contains("stop\t0\t"));
    }

    void commsSetRefusesBadValuesBeforeConnecting() {
        const Run r = cli({"--simulate", "comms", "set", "--address", "248"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("--address"));
    }

    // Register 04, which decides it, is read before the check rather than
    // taken as the zero of a cache never filled.
    void deviceIdSetOnOurBacnetUnit() {
        gp::test::SimProcess unit({"--features", "4"}); // BACnet, vendor id 1077
        QVERIFY(!unit.path().isEmpty());
        const Run r = cli({"--port", unit.path(), "comms", "set", "--device-id", "4711"});
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        const Run back = cli({"--port", unit.path(), "send", ":R24#"});
        QVERIFY2(back.out.contains("!R2467120000#"), qPrintable(back.out));
    }

    void deviceIdOnlyOnOurBacnetUnits() {
        const Run r = cli({"--simulate", "comms", "set", "--device-id", "4711"});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("BACnet"));
    }
};

QTEST_GUILESS_MAIN(TestCliIdentity)
#include "test_cli_identity.moc"
