// The simulated unit behind the in-process port: virtual-time delivery of
// bytes in both directions, notifications, and every wire fault. Times here
// are virtual and stated in byte times of the line, so nothing depends on
// how fast the test machine is.

#include "sim/sim_port.h"

#include <QTest>

using gp::PortError;
using gp::sim::SimPort;
using gp::sim::SimProfile;
using gp::sim::WireFault;

namespace {

// ":R21#" asks five characters; its reply has thirteen.
const QByteArray kAsk = ":R21#";
const QByteArray kReply = "!R2101000000#";

struct Rig {
    SimPort port;
    QByteArrayList arrivals; // one entry per notification
    QList<PortError> errors;

    explicit Rig(SimProfile profile = {}) : port(std::move(profile)) {
        port.setOnReadyRead([this]() { arrivals << port.readAll(); });
        port.setOnError([this](PortError e, const QString&) { errors << e; });
        port.open();
    }
    QByteArray received() const { return arrivals.join(); }
    // Time for a request and its undisturbed reply to pass completely.
    double roundTripMs(int sent, int replied) const {
        return (sent + replied) * port.byteTimeMs() + port.turnaroundMs();
    }
};

} // namespace

class TestSimPort : public QObject {
    Q_OBJECT

  private slots:
    void byteTimeFollowsLineSettings_data();
    void byteTimeFollowsLineSettings();
    void replyArrivesWhenRequestTurnaroundAndReplyHavePassed();
    void steppingThroughAReplyDeliversItInOrderPieces();
    void callbackMayWriteTheNextFrame();
    void unitAtAnotherLineSpeedHearsNothing();
    void closingLosesTheReplyOnItsWay();
    void unitIsSilentWhileStartingUpAfterReset();
    void faultsShapeTheReply_data();
    void faultsShapeTheReply();
    void dropAppliesToTheNumberedFrameOnly();
    void delayHoldsTheReplyBack();
    void splitReplyComesInTwoNotifications();
    void everyReplyFaultStaysArmed();
    void silentUnitStillCarriesOutCommands();
    void vanishedPortFailsUntilReplugged();
    void vanishAtFrameReplacesThatReply();
    void refusedOpenReportsTheReason();
    void countersCountBothDirections();
    void badFaultTextIsRefused();
};

void TestSimPort::byteTimeFollowsLineSettings_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<double>("byteMs");
    QTest::newRow("9600 8N1: ten bits") << "9600,n,8,1" << 10.0 / 9.6;
    QTest::newRow("9600 8E2: twelve bits") << "9600,e,8,2" << 12.0 / 9.6;
    QTest::newRow("115200 8N1") << "115200,n,8,1" << 10.0 / 115.2;
}

void TestSimPort::byteTimeFollowsLineSettings() {
    QFETCH(QString, settings);
    QFETCH(double, byteMs);
    SimPort port;
    QVERIFY(port.setSettings(settings));
    QVERIFY(qAbs(port.byteTimeMs() - byteMs) < 1e-6);
}

void TestSimPort::replyArrivesWhenRequestTurnaroundAndReplyHavePassed() {
    Rig rig;
    QVERIFY(rig.port.write(kAsk));
    const double whole = rig.roundTripMs(5, 13);
    rig.port.advance(whole - 0.1);
    // The last character is still on the line.
    QCOMPARE(rig.received(), kReply.left(12));
    rig.port.advance(0.2);
    QCOMPARE(rig.received(), kReply);

    // A test that jumps past the whole exchange sees one notification.
    Rig jump;
    jump.port.write(kAsk);
    jump.port.advance(100);
    QCOMPARE(jump.arrivals, QByteArrayList{kReply});
    QCOMPARE(jump.port.notifications(), 1);
}

void TestSimPort::steppingThroughAReplyDeliversItInOrderPieces() {
    Rig rig;
    rig.port.write(kAsk);
    for (int i = 0; i < 40; ++i)
        rig.port.advance(1.0);
    QVERIFY2(rig.arrivals.size() > 5, "a reply stepped through in 1 ms steps comes in pieces");
    QCOMPARE(rig.received(), kReply);
    QCOMPARE(rig.port.unit().framesReceived(), quint64(1));
}

void TestSimPort::callbackMayWriteTheNextFrame() {
    SimPort port;
    QByteArrayList replies;
    QByteArray buffer;
    QList<QByteArray> toSend{":R01#", ":U04#", ":S#"};
    port.setOnReadyRead([&]() {
        buffer += port.readAll();
        if (!buffer.endsWith('#'))
            return;
        replies << buffer;
        buffer.clear();
        if (!toSend.isEmpty())
            QVERIFY(port.write(toSend.takeFirst()));
    });
    port.open();
    port.write(kAsk);
    port.advance(500);
    QCOMPARE(replies, (QByteArrayList{kReply, "!R013AC00010#", "!U04DD000000#", "!S00000000#"}));
}

void TestSimPort::unitAtAnotherLineSpeedHearsNothing() {
    Rig rig;
    rig.port.setSettings("115200,n,8,1");
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.port.unit().framesReceived(), quint64(0));
    QVERIFY(rig.arrivals.isEmpty());
    rig.port.setSettings("9600,n,8,1");
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.received(), kReply);
}

void TestSimPort::closingLosesTheReplyOnItsWay() {
    Rig rig;
    rig.port.write(kAsk);
    rig.port.advance(rig.roundTripMs(5, 3)); // mid-reply
    rig.port.close();
    QVERIFY(!rig.port.write(kAsk));
    rig.port.open();
    rig.port.advance(100);
    QCOMPARE(rig.port.readAll(), QByteArray());
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.arrivals.last(), kReply);
}

void TestSimPort::unitIsSilentWhileStartingUpAfterReset() {
    SimProfile p;
    p.resetSilenceMs = 1500;
    Rig rig(p);
    rig.port.write(":SR#");
    rig.port.advance(20);
    rig.port.write(":S#");
    rig.port.advance(1000);
    QVERIFY(rig.arrivals.isEmpty());
    rig.port.advance(1000);
    rig.port.write(":S#");
    rig.port.advance(100);
    QCOMPARE(rig.received(), QByteArray("!S00030000#"));
}

void TestSimPort::faultsShapeTheReply_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("arrived");
    QTest::newRow("drop") << "drop" << QByteArray();
    QTest::newRow("corrupt the middle character: one bit flipped")
        << "corrupt" << QByteArray("!R2101100000#");
    QTest::newRow("corrupt character 5") << "corrupt=5" << QByteArray("!R2100000000#");
    QTest::newRow("garbage before the reply") << "garbage=xx" << QByteArray("xx!R2101000000#");
    QTest::newRow("default garbage") << "garbage" << QByteArray("\xF8~x!R2101000000#");
    QTest::newRow("split keeps every character") << "split=4" << kReply;
    QTest::newRow("delay keeps every character") << "delay=40" << kReply;
}

void TestSimPort::faultsShapeTheReply() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, arrived);
    Rig rig;
    QVERIFY(rig.port.arm(fault));
    rig.port.write(kAsk);
    rig.port.advance(200);
    QCOMPARE(rig.received(), arrived);
    // The fault was for one reply only.
    rig.arrivals.clear();
    rig.port.write(kAsk);
    rig.port.advance(200);
    QCOMPARE(rig.received(), kReply);
}

void TestSimPort::dropAppliesToTheNumberedFrameOnly() {
    Rig rig;
    rig.port.dropReplyToFrame(2);
    QByteArrayList replies;
    for (const QByteArray frame : {":R21#", ":R01#", ":U04#"}) {
        rig.arrivals.clear();
        rig.port.write(frame);
        rig.port.advance(100);
        replies << rig.received();
    }
    QCOMPARE(replies, (QByteArrayList{kReply, QByteArray(), "!U04DD000000#"}));
    // The unit did take the second frame in.
    QCOMPARE(rig.port.unit().framesReceived(), quint64(3));
}

void TestSimPort::delayHoldsTheReplyBack() {
    Rig rig;
    rig.port.delayNextReply(50);
    rig.port.write(kAsk);
    rig.port.advance(rig.roundTripMs(5, 13) + 1);
    QVERIFY(rig.arrivals.isEmpty());
    rig.port.advance(50);
    QCOMPARE(rig.received(), kReply);
}

void TestSimPort::splitReplyComesInTwoNotifications() {
    Rig rig;
    rig.port.splitNextReply(8, 5.0);
    rig.port.write(kAsk);
    rig.port.advance(200);
    QCOMPARE(rig.arrivals, (QByteArrayList{"!R210100", "0000#"}));
}

void TestSimPort::everyReplyFaultStaysArmed() {
    Rig rig;
    QVERIFY(rig.port.arm("garbage=?#@every"));
    for (int i = 0; i < 3; ++i) {
        rig.arrivals.clear();
        rig.port.write(kAsk);
        rig.port.advance(100);
        QCOMPARE(rig.received(), "?#" + kReply);
    }
    rig.port.clearFaults();
    rig.arrivals.clear();
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.received(), kReply);
}

void TestSimPort::silentUnitStillCarriesOutCommands() {
    Rig rig;
    rig.port.setSilent(true);
    rig.port.write(":W2A07000000#");
    rig.port.advance(100);
    QVERIFY(rig.arrivals.isEmpty());
    QCOMPARE(rig.port.unit().reg(0x2A), 7);
    rig.port.setSilent(false);
    rig.port.write(":R2A#");
    rig.port.advance(100);
    QCOMPARE(rig.received(), QByteArray("!R2A07000000#"));
}

void TestSimPort::vanishedPortFailsUntilReplugged() {
    Rig rig;
    rig.port.write(kAsk);
    rig.port.advance(3);
    rig.port.vanish();
    QCOMPARE(rig.errors, QList<PortError>{PortError::Vanished});
    QVERIFY(!rig.port.write(kAsk));
    rig.port.advance(100);
    QVERIFY(rig.arrivals.isEmpty());
    rig.port.close();
    QVERIFY(!rig.port.open());
    QCOMPARE(rig.port.lastError(), PortError::NotFound);
    rig.port.replug();
    QVERIFY(rig.port.open());
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.received(), kReply);
    QCOMPARE(rig.errors.size(), 1);
}

void TestSimPort::vanishAtFrameReplacesThatReply() {
    Rig rig;
    rig.port.vanishAtFrame(2);
    rig.port.write(kAsk);
    rig.port.advance(100);
    QCOMPARE(rig.received(), kReply);
    QVERIFY(rig.errors.isEmpty());
    rig.port.write(":W2A07000000#");
    rig.port.advance(100);
    QCOMPARE(rig.errors, QList<PortError>{PortError::Vanished});
    QCOMPARE(rig.received(), kReply);
}

void TestSimPort::refusedOpenReportsTheReason() {
    SimPort port;
    port.refuseOpen(PortError::Busy);
    QVERIFY(!port.open());
    QCOMPARE(port.lastError(), PortError::Busy);
    port.refuseOpen(PortError::None);
    port.unplug();
    QVERIFY(!port.open());
    QCOMPARE(port.lastError(), PortError::NotFound);
    port.replug();
    QVERIFY(port.open());
    QVERIFY(!port.name().contains("ttyUSB") && !port.name().contains("ttyACM"));
}

void TestSimPort::countersCountBothDirections() {
    Rig rig;
    rig.port.garbageBeforeNextReply("zz");
    rig.port.write(kAsk);
    rig.port.write(":S#");
    rig.port.advance(100);
    QCOMPARE(rig.port.bytesSent(), quint64(8));
    QCOMPARE(rig.port.bytesReceived(), quint64(2 + 13 + 11));
    // Both replies in order; the second follows the first on the line.
    QCOMPARE(rig.received(), "zz" + kReply + "!S00000000#");
}

void TestSimPort::badFaultTextIsRefused() {
    SimPort port;
    QString why;
    QVERIFY(!port.arm("explode", &why));
    QVERIFY(why.contains("explode"));
    QVERIFY(!port.arm("delay", &why));
    QVERIFY(!port.arm("drop@0", &why));
    QVERIFY(!port.arm("vanish@every", &why));
    QVERIFY(port.arm("delay=20@3", &why));
}

QTEST_GUILESS_MAIN(TestSimPort)
#include "test_sim_port.moc"
