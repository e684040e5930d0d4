// The receive handler cutting replies out of noisy, split input, and the
// sending side's behaviour on closed and vanished ports.
#include "link/link.h"
#include "support/fake_link_rig.h"

#include <QtTest>

using namespace gp;
using gp::test::FakePort;

namespace {
using Rig = gp::test::FakeLinkRig;
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
  private slots:
    void cutsReplies_data() {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QString>("reply"); // empty: no reply ready
        QTest::addColumn<QByteArray>("leftInBuffer");
        QTest::newRow("garbage before")
            << QByteArrayList{"xx!R01AABBCCDD#"} << "!R01AABBCCDD#" << QByteArray();
        QTest::newRow("split in two")
            << QByteArrayList{"!R01AABB", "CCDD#"} << "!R01AABBCCDD#" << QByteArray();
        QTest::newRow("question reply discarded") << QByteArrayList{"?#"} << "" << QByteArray();
        // What follows the "#" may be the start of the next reply.
        QTest::newRow("tail after hash kept")
            << QByteArrayList{"!W01000000", "00#!S"} << "!W0100000000#" << QByteArray("!S");
        QTest::newRow("noise with a bang before the reply")
            << QByteArrayList{"x!!zz", "!R01AABBCCDD#"} << "!R01AABBCCDD#" << QByteArray();
        QTest::newRow("partial waits") << QByteArrayList{"ab!R01"} << "" << QByteArray("!R01");
        QTest::newRow("one char at a time")
            << QByteArrayList{"!", "S", "0", "1", "0", "0", "0", "0", "0", "0", "#"}
            << "!S01000000#" << QByteArray();
    }
    void cutsReplies() {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QString, reply);
        QFETCH(QByteArray, leftInBuffer);
        Rig r;
        for (const auto& c : chunks)
            r.port->feed(c);
        QCOMPARE(r.link.serial.ReplyReady, !reply.isEmpty());
        if (!reply.isEmpty()) {
            QCOMPARE(r.link.serial.RxMsg, reply);
            QCOMPARE(r.link.log.lines().last(), "[Rx] " + reply);
        }
        QCOMPARE(r.link.serial.RxBuffer, leftInBuffer);
    }

    void everyReplyIsKeptInOrder() {
        Rig r;
        r.port->feed("!R0101000000#");
        r.port->feed("!R0202000000#!R03");
        r.port->feed("03000000#");
        QCOMPARE(r.link.serial.pendingReplies(), 3);
        QVERIFY(r.link.serial.RxBuffer.isEmpty());
        for (const char* expected : {"!R0101000000#", "!R0202000000#", "!R0303000000#"})
            QCOMPARE(r.link.serial.takeReply()->text, QString(expected));
        QVERIFY(!r.link.serial.ReplyReady);
        // A partial reply is the line's noise once the next frame goes out.
        r.port->feed("!R04");
        r.link.SendMsg(":R05#");
        QVERIFY(r.link.serial.RxBuffer.isEmpty());
    }

    void bufferWithoutHashIsCapped() {
        Rig r;
        r.port->feed("!");
        for (int i = 0; i < 100; ++i)
            r.port->feed(QByteArray(1000, 'A'));
        QVERIFY(r.link.serial.RxBuffer.size() <= SerialLink::kRxBufferCap);
        QVERIFY(r.link.serial.counters.charsDiscarded >= 100000 - SerialLink::kRxBufferCap);
        // the line recovers as soon as a whole reply comes
        r.link.SendMsg(":R01#");
        r.port->feed("!R0107000000#");
        QVERIFY(r.link.serial.ReplyReady);
    }

    void bootProbe() {
        Rig r;
        r.link.serial.BootProbe = true;
        r.link.poll.CmdQueuePos = 5;
        r.port->feed("abcdefghijk"); // eleven characters without LF CR
        QVERIFY(r.link.serial.RxBuffer.isEmpty());
        QVERIFY(!r.link.serial.BootFound);
        r.port->feed("\n");
        r.port->feed("\r");
        QVERIFY(r.link.serial.BootFound);
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QVERIFY(!r.link.serial.ReplyReady);
    }

    void co2PassThroughTakesEveryCharacter() {
        Rig r;
        QByteArray got;
        r.link.serial.Co2PassThrough = true;
        r.link.serial.co2Receive = [&](const QByteArray& b) { got += b; };
        r.port->feed(" Z 00450 z 00449\r\n");
        r.port->feed("!R0101000000#");
        QCOMPARE(got, QByteArray(" Z 00450 z 00449\r\n!R0101000000#"));
        QVERIFY(!r.link.serial.ReplyReady);
    }

    // The start of a reply received before the line was handed to the boot
    // monitor or the CO2 sensor is not glued to what arrives after it comes
    // back: the two halves were never one reply.
    void partialReplyDoesNotSurviveARouteChange_data() {
        QTest::addColumn<bool>("boot"); // else the CO2 pass-through
        QTest::newRow("boot probe") << true;
        QTest::newRow("co2 pass-through") << false;
    }
    void partialReplyDoesNotSurviveARouteChange() {
        QFETCH(bool, boot);
        Rig r;
        r.link.serial.co2Receive = [](const QByteArray&) {};
        r.port->feed("!R0231");
        (boot ? r.link.serial.BootProbe : r.link.serial.Co2PassThrough) = true;
        r.port->feed("xyz");
        (boot ? r.link.serial.BootProbe : r.link.serial.Co2PassThrough) = false;
        r.port->feed("000000#");
        QVERIFY2(!r.link.serial.ReplyReady, qPrintable(r.link.serial.RxMsg));
        r.port->feed("!R0231000000#");
        QCOMPARE(r.link.serial.RxMsg, QStringLiteral("!R0231000000#"));
    }

    void sendOnClosedPortOnlyReopens() {
        Rig r;
        r.link.serial.close();
        r.link.serial.MsgTimeout = -1;
        r.link.SendMsg(":R01#");
        QVERIFY(r.port->written.isEmpty());
        QVERIFY(r.link.serial.isOpen());
        QCOMPARE(r.link.serial.MsgTimeout, 0); // given up at the next tick
        r.link.SendMsg(":R01#");
        QCOMPARE(r.port->writtenFrames(), QStringList{":R01#"});
        QCOMPARE(r.link.serial.MsgTimeout, 8);
        QCOMPARE(r.link.log.lines().last(), QString("[Tx] :R01#"));
    }

    void portProblemsAreReportedOnceWithTheReason_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("expect");
        QTest::newRow("missing") << int(PortError::NotFound) << "does not exist";
        QTest::newRow("busy") << int(PortError::Busy) << "in use";
        QTest::newRow("permission") << int(PortError::PermissionDenied) << "dialout";
    }
    void portProblemsAreReportedOnceWithTheReason() {
        QFETCH(int, error);
        QFETCH(QString, expect);
        Link link;
        auto p = std::make_unique<FakePort>();
        p->refuseOpen = PortError(error);
        link.serial.setPort(std::move(p));
        QStringList status;
        link.serial.onStatus = [&](const QString& s) { status << s; };
        QVERIFY(!link.serial.choosePort("ttyUSB7"));
        for (int i = 0; i < 20; ++i)
            link.SendMsg(":R01#");
        QCOMPARE(status.size(), 1);
        QVERIFY(status[0].contains("ttyUSB7"));
        QVERIFY2(status[0].contains(expect), qPrintable(status[0]));
        QCOMPARE(link.log.lines().filter("ttyUSB7").size(), 1);
    }

    void vanishedPortReopensOnTheNextSend() {
        Rig r;
        r.port->vanish();
        QVERIFY(!r.link.serial.isOpen());
        QVERIFY(r.link.log.lines().last().contains("went away"));
        r.port->refuseOpen = PortError::NotFound;
        r.link.SendMsg(":R01#"); // still unplugged
        QVERIFY(!r.link.serial.isOpen());
        r.port->refuseOpen = PortError::None;
        r.link.SendMsg(":R01#"); // plugged back: reopened, frame not sent
        QVERIFY(r.link.serial.isOpen());
        QVERIFY(r.link.log.lines().last().contains("back"));
        QVERIFY(r.port->written.isEmpty());
    }

    // A command-line run works on one unit from start to end: after its port
    // went away it does not open whatever appears under the same name later
    // (on a test bench, another unit's adapter or another program's
    // pseudo-terminal), unless the port is chosen again.
    void withoutReopenAVanishedPortStaysClosedUntilChosenAgain() {
        Rig r;
        r.link.serial.reopenAfterVanish = false;
        r.port->vanish();
        for (int i = 0; i < 3; ++i) {
            r.link.SendMsg(":R01#");
            r.link.serial.sendRaw(QStringLiteral("K 1\r\n"));
        }
        QVERIFY(!r.link.serial.isOpen());
        QVERIFY(r.port->written.isEmpty());
        QVERIFY(r.link.serial.choosePort("ttyFAKE0"));
        QVERIFY(r.link.serial.isOpen());
    }

    void logFileHoldsOnlyTheHeaderWhenLogComsIsOff() {
        QTemporaryDir dir;
        Rig r;
        const QString path = dir.filePath("log.txt");
        QVERIFY(r.link.log.openFile(path, true));
        r.link.SendMsg(":R01#");
        r.link.log.closeFile();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("timestamp CO2 Temp Hum Lux RI1 RI2 SP DIs\r\n"));
    }

    void logComsWritesEveryFrameWithCrLf() {
        QTemporaryDir dir;
        Rig r;
        const QString path = dir.filePath("coms.txt");
        QVERIFY(r.link.log.openFile(path, false));
        r.link.log.setLogComs(true);
        r.link.SendMsg(":R01#");
        r.port->feed("!R0101000000#");
        r.link.log.closeFile();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[Tx] :R01#\r\n[Rx] !R0101000000#\r\n"));
    }

    void screenLogStaysBounded() {
        Rig r;
        for (int i = 0; i < TrafficLog::kScreenLines + 500; ++i)
            r.link.AddLog(QString::number(i));
        QCOMPARE(r.link.log.lines().size(), TrafficLog::kScreenLines);
        QCOMPARE(r.link.log.lines().last(), QString::number(TrafficLog::kScreenLines + 499));
    }

    void progressLabel_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("over full") << 1.5 << 0 << "100%" << false;
        QTest::newRow("zero") << 0.0 << 0 << "0%" << true;
        QTest::newRow("45") << 0.45 << 0 << "45%" << false;
        QTest::newRow("red") << 0.5 << 1 << "50%" << false;
        QTest::newRow("reset") << 0.7 << 2 << "0%" << true;
        QTest::newRow("two thirds") << 2.0 / 3 << 0 << "67%" << false;
    }
    void progressLabel() {
        QFETCH(double, fraction);
        QFETCH(int, mode);
        QFETCH(QString, label);
        QFETCH(bool, cleared);
        Progress p;
        p.SetProgress(fraction, mode);
        QCOMPARE(p.state().label, label);
        QCOMPARE(p.state().cleared, cleared);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "test_serial_link.moc"
