// The simulated unit's protocol: what it answers to each frame, and what its
// burn, defaults and reset commands do to the register bank. Wire texts are
// written out on purpose, so a change in the encoding shows up here.

#include "sim/sim_unit.h"

#include <QTest>
#include <bit>

using gp::sim::BootMonitor;
using gp::sim::PassThroughPeer;
using gp::sim::SimChip;
using gp::sim::SimProfile;
using gp::sim::SimUnit;

namespace {

// The value field of a 13-character reply.
int32_t fieldOf(const QByteArray& reply) {
    const QByteArray f = reply.mid(4, 8);
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<uint32_t>(f.mid(2 * k, 2).toUInt(nullptr, 16)) << (8 * k);
    return static_cast<int32_t>(u);
}

float floatOf(const QByteArray& reply) {
    return std::bit_cast<float>(fieldOf(reply));
}

QByteArray wireFloat(float f) {
    const auto u = std::bit_cast<uint32_t>(f);
    QByteArray out;
    for (int k = 0; k < 4; ++k)
        out += QByteArray::number((u >> (8 * k)) & 0xFF, 16).rightJustified(2, '0').toUpper();
    return out;
}

class RecordingPeer : public PassThroughPeer {
  public:
    explicit RecordingPeer(QByteArray* seen, bool* ended) : seen_(seen), ended_(ended) {}
    QByteArray feed(char byte, double) override {
        seen_->append(byte);
        return byte == '\n' ? QByteArray(" Z 00450 z 00449\r\n") : QByteArray();
    }
    void end(double) override { *ended_ = true; }

  private:
    QByteArray* seen_;
    bool* ended_;
};

class RecordingMonitor : public BootMonitor {
  public:
    explicit RecordingMonitor(QByteArray* seen) : seen_(seen) {}
    QByteArray feed(char byte, double) override {
        seen_->append(byte);
        return byte == '#' ? QByteArray("\n\r") : QByteArray();
    }

  private:
    QByteArray* seen_;
};

} // namespace

class TestSimUnit : public QObject {
    Q_OBJECT

  private slots:
    void answersEachFrame_data();
    void answersEachFrame();
    void silentActions_data();
    void silentActions();
    void inputAndAnalogueReadingsArePlausibleAndDrift();
    void everyDiagnosticItemIsAnswered();
    void burnDefaultsAndResetActOnTheBank();
    void userAndSensorBurnsLeaveIdentityAlone();
    void unitIgnoresTheLineWhileStartingUpAfterReset();
    void resetKeepsLogoAndScreenRateButClearsDebugFlags();
    void outputCalibrationStoresPlausibleCoefficients();
    void profileShapesIdentity();
    void actionsUnansweredWhenProfileSaysSo();
    void passThroughHandsEveryByteToThePeerUntilALoneBang();
    void bootMonitorTakesTheLineUntilPowerCycle();
    void overlongFrameIsDropped();
};

void TestSimUnit::answersEachFrame_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");

    // Default profile: MODBUS, CO2, buzzer, humidity, AO1, AO2; application 1.
    QTest::newRow("feature flags with application id in the top nibble")
        << QByteArray(":R01#") << QByteArray("!R013AC00010#");
    QTest::newRow("layout code 0 in the top byte of register 00")
        << QByteArray(":R00#") << QByteArray("!R0002010000#");
    QTest::newRow("date code 14/03/24") << QByteArray(":R02#") << QByteArray("!R020E031800#");
    QTest::newRow("serial number Q-48225") << QByteArray(":R03#") << QByteArray("!R0361BC0051#");
    QTest::newRow("vendor id 1077") << QByteArray(":R04#") << QByteArray("!R0435040000#");
    QTest::newRow("vendor name starts in text order")
        << QByteArray(":R05#") << QByteArray("!R0551756F72#");
    QTest::newRow("product name starts in text order")
        << QByteArray(":R0D#") << QByteArray("!R0D5152552D#");
    QTest::newRow("comms: address 1 at 9600 8N1")
        << QByteArray(":R21#") << QByteArray("!R2101000000#");
    QTest::newRow("register FF exists") << QByteArray(":RFF#") << QByteArray("!RFF00000000#");
    QTest::newRow("write is echoed") << QByteArray(":W2A78563412#") << QByteArray("!W2A78563412#");
    QTest::newRow("register 00 is not writable") << QByteArray(":W0000000001#") << QByteArray("?#");
    QTest::newRow("status after power-up") << QByteArray(":S#") << QByteArray("!S00000000#");
    QTest::newRow("unique id part 0 as text") << QByteArray(":U00#") << QByteArray("!U0051525531#");
    QTest::newRow("unique id part 3 as text") << QByteArray(":U03#") << QByteArray("!U039F3E61C4#");
    QTest::newRow("firmware version 221") << QByteArray(":U04#") << QByteArray("!U04DD000000#");
    QTest::newRow("chip SAM3N2B revision 1") << QByteArray(":U05#") << QByteArray("!U0561074929#");
    QTest::newRow("no identity item 06") << QByteArray(":U06#") << QByteArray("?#");
    QTest::newRow("factory logo word 00") << QByteArray(":L00#") << QByteArray("!L000000007F#");
    QTest::newRow("factory logo word 7F") << QByteArray(":L7F#") << QByteArray("!L7F7F7F7F00#");
    QTest::newRow("logo write is echoed")
        << QByteArray(":L1011223344#") << QByteArray("!L1011223344#");
    QTest::newRow("no logo word 80") << QByteArray(":L80#") << QByteArray("?#");
    QTest::newRow("no logo word 80 to write") << QByteArray(":L8011223344#") << QByteArray("?#");
    QTest::newRow("no input item 13 hex") << QByteArray(":I13#") << QByteArray("?#");
    QTest::newRow("no analogue channel 0D") << QByteArray(":A0D#") << QByteArray("?#");
    QTest::newRow("no diagnostic item 00") << QByteArray(":D00#") << QByteArray("?#");
    QTest::newRow("no diagnostic item 0F") << QByteArray(":D0F#") << QByteArray("?#");
    QTest::newRow("debug flags write is echoed")
        << QByteArray(":D0300000080#") << QByteArray("!D0300000080#");
    QTest::newRow("debug command write is echoed")
        << QByteArray(":D0401000000#") << QByteArray("!D0401000000#");
    QTest::newRow("debug word write is echoed")
        << QByteArray(":D080000FF00#") << QByteArray("!D080000FF00#");
    QTest::newRow("screen rate write is echoed")
        << QByteArray(":D0A02000000#") << QByteArray("!D0A02000000#");
    QTest::newRow("debug value 05 is read-only") << QByteArray(":D0501000000#") << QByteArray("?#");
    QTest::newRow("input items are read-only") << QByteArray(":I0001000000#") << QByteArray("?#");
    QTest::newRow("write without value") << QByteArray(":W01#") << QByteArray("?#");
    QTest::newRow("lower-case hex is not understood") << QByteArray(":R1a#") << QByteArray("?#");
    QTest::newRow("one-digit item") << QByteArray(":R0#") << QByteArray("?#");
    QTest::newRow("short argument") << QByteArray(":R0100#") << QByteArray("?#");
    QTest::newRow("unknown letter") << QByteArray(":Q01#") << QByteArray("?#");
    QTest::newRow("empty frame") << QByteArray(":#") << QByteArray("?#");
    QTest::newRow("unknown system action") << QByteArray(":SX#") << QByteArray("?#");
    QTest::newRow("burn is acknowledged with the status")
        << QByteArray(":SP#") << QByteArray("!S00000000#");
    QTest::newRow("defaults acknowledged") << QByteArray(":SD#") << QByteArray("!S00000000#");
    QTest::newRow("update acknowledged") << QByteArray(":SU#") << QByteArray("!S00000000#");
    QTest::newRow("service pin acknowledged") << QByteArray(":SB#") << QByteArray("!S00000000#");
    QTest::newRow("calibrate acknowledged") << QByteArray(":SC#") << QByteArray("!S00000000#");
    QTest::newRow("debug action acknowledged") << QByteArray(":SA#") << QByteArray("!S00000000#");
    QTest::newRow("filter save acknowledged") << QByteArray(":SF#") << QByteArray("!S00000000#");
    QTest::newRow("noise before the colon is ignored")
        << QByteArray("xx\r\nK 1\r\n:R21#") << QByteArray("!R2101000000#");
    QTest::newRow("a colon restarts a cut-off frame")
        << QByteArray(":R0:R21#") << QByteArray("!R2101000000#");
    QTest::newRow("two frames, two replies")
        << QByteArray(":R21#:U04#") << QByteArray("!R2101000000#!U04DD000000#");
}

void TestSimUnit::answersEachFrame() {
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    SimUnit unit;
    QCOMPARE(unit.receive(sent, 10.0), reply);
}

void TestSimUnit::silentActions_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("mode");
    QTest::newRow("reset leaves no time to answer")
        << QByteArray(":SR#") << int(SimUnit::Mode::Protocol);
    QTest::newRow("pass-through answers nothing itself")
        << QByteArray(":SZ#") << int(SimUnit::Mode::PassThrough);
    QTest::newRow("boot monitor answers nothing")
        << QByteArray(":SAMBA#") << int(SimUnit::Mode::BootMonitor);
}

void TestSimUnit::silentActions() {
    QFETCH(QByteArray, sent);
    QFETCH(int, mode);
    SimUnit unit;
    QCOMPARE(unit.receive(sent, 10.0), QByteArray());
    QCOMPARE(int(unit.mode()), mode);
    QCOMPARE(unit.framesReceived(), quint64(1));
}

void TestSimUnit::inputAndAnalogueReadingsArePlausibleAndDrift() {
    SimUnit unit;
    const float temp = floatOf(unit.receive(":I00#", 0.0));
    const float hum = floatOf(unit.receive(":I01#", 0.0));
    QVERIFY2(temp > 20.0f && temp < 23.0f, qPrintable(QString::number(temp)));
    QVERIFY2(hum > 40.0f && hum < 50.0f, qPrintable(QString::number(hum)));
    for (int item = 0; item < 19; ++item) {
        const QByteArray frame =
            ":I" + QByteArray::number(item, 16).rightJustified(2, '0').toUpper() + "#";
        const QByteArray reply = unit.receive(frame, 1000.0);
        QCOMPARE(reply.size(), 13);
        QVERIFY(std::isfinite(floatOf(reply)));
    }
    // A room changes slowly; a minute later the temperature has moved.
    QVERIFY(floatOf(unit.receive(":I00#", 60000.0)) != temp);
    // The same moment reads the same.
    QCOMPARE(unit.receive(":I00#", 0.0), unit.receive(":I00#", 0.0));

    bool moved = false;
    for (int ch = 0; ch < 13; ++ch) {
        const QByteArray frame =
            ":A" + QByteArray::number(ch, 16).rightJustified(2, '0').toUpper() + "#";
        const int32_t first = fieldOf(unit.receive(frame, 0.0));
        const int32_t later = fieldOf(unit.receive(frame, 45000.0));
        QVERIFY(first >= 0 && first <= 4095);
        QVERIFY(later >= 0 && later <= 4095);
        moved = moved || first != later;
    }
    QVERIFY(moved);
}

void TestSimUnit::everyDiagnosticItemIsAnswered() {
    SimUnit unit;
    for (int item = 1; item <= 0x0E; ++item) {
        const QByteArray frame =
            ":D" + QByteArray::number(item, 16).rightJustified(2, '0').toUpper() + "#";
        const QByteArray reply = unit.receive(frame, 5.0);
        QVERIFY2(reply.startsWith("!D" + frame.mid(2, 2)) && reply.size() == 13, frame.constData());
    }
}

void TestSimUnit::burnDefaultsAndResetActOnTheBank() {
    SimUnit unit;
    const QByteArray set21 = wireFloat(21.0f), set22 = wireFloat(22.0f), set23 = wireFloat(23.0f);
    // Register 26 is the temperature set point, 21.0 from the factory.
    QCOMPARE(unit.receive(":R26#", 0), "!R26" + set21 + "#");

    // A written value lives in RAM only: a reset brings back the burnt one.
    unit.receive(":W26" + set22 + "#", 10);
    unit.receive(":SR#", 20);
    QCOMPARE(unit.receive(":R26#", 5000), "!R26" + set21 + "#");

    // Burnt, it survives the reset.
    unit.receive(":W26" + set22 + "#", 5010);
    unit.receive(":SP#", 5020);
    QCOMPARE(unit.nonvolatileReg(0x26), std::bit_cast<int32_t>(22.0f));
    unit.receive(":SR#", 5030);
    QCOMPARE(unit.receive(":R26#", 9000), "!R26" + set22 + "#");

    // Defaults replace RAM only; the burnt copy comes back with a reset.
    unit.receive(":W26" + set23 + "#", 9010);
    unit.receive(":W4000000100#", 9020);
    QCOMPARE(unit.receive(":SD#", 9030), QByteArray("!S00030000#")); // after a software reset
    QCOMPARE(unit.receive(":R26#", 9040), "!R26" + set21 + "#");
    QCOMPARE(unit.reg(0x40), unit.factoryReg(0x40));
    QCOMPARE(unit.receive(":SR#", 9050), QByteArray());
    QCOMPARE(unit.receive(":R26#", 15000), "!R26" + set22 + "#");
}

void TestSimUnit::userAndSensorBurnsLeaveIdentityAlone() {
    SimUnit unit;
    // ":SU#" ends the comms write and the settings batch: user settings
    // become permanent, the feature flags do not.
    unit.receive(":W2102000000#", 0);
    unit.receive(":W0102000030#", 0);
    unit.receive(":SU#", 0);
    unit.receive(":SR#", 0);
    QCOMPARE(unit.receive(":R21#", 2000), QByteArray("!R2102000000#"));
    QCOMPARE(unit.receive(":R01#", 2000), QByteArray("!R013AC00010#"));

    // ":SF#" keeps the sensor trims and filters (1A..20) only.
    unit.receive(":W1F0A0A0A0A#", 2000);
    unit.receive(":W2A05000000#", 2000);
    unit.receive(":SF#", 2000);
    unit.receive(":SR#", 2000);
    QCOMPARE(unit.receive(":R1F#", 4000), QByteArray("!R1F0A0A0A0A#"));
    QCOMPARE(unit.receive(":R2A#", 4000), QByteArray("!R2A20030000#")); // 800 ppm from the factory

    // Defaults leave the product's identity and calibration as they are.
    unit.receive(":W0D41424300#", 4000);
    unit.receive(":W1012345678#", 4000);
    unit.receive(":SD#", 4000);
    QCOMPARE(unit.receive(":R0D#", 4000), QByteArray("!R0D41424300#"));
    QCOMPARE(unit.receive(":R10#", 4000), QByteArray("!R1012345678#"));
}

void TestSimUnit::unitIgnoresTheLineWhileStartingUpAfterReset() {
    SimProfile p;
    p.resetSilenceMs = 1500;
    SimUnit unit(p);
    QCOMPARE(unit.receive(":SR#", 100.0), QByteArray());
    QVERIFY(unit.isStartingUp(100.0));
    const quint64 frames = unit.framesReceived();
    QCOMPARE(unit.receive(":R01#", 101.0), QByteArray());
    QCOMPARE(unit.receive(":S#", 1599.0), QByteArray());
    QCOMPARE(unit.framesReceived(), frames);
    // A frame cut by the end of the start-up is not taken half.
    QCOMPARE(unit.receive(":R0", 1599.5), QByteArray());
    QCOMPARE(unit.receive("1#", 1600.0), QByteArray());
    QCOMPARE(unit.receive(":S#", 1600.0), QByteArray("!S00030000#")); // cause 3: software reset
    QCOMPARE(unit.resetCause(), 3);
}

void TestSimUnit::resetKeepsLogoAndScreenRateButClearsDebugFlags() {
    SimUnit unit;
    unit.receive(":L05DDCCBBAA#", 0);
    unit.receive(":D0A02000000#", 0);
    unit.receive(":D03FFFFFFFF#", 0);
    unit.receive(":SR#", 0);
    QCOMPARE(unit.receive(":L05#", 2000), QByteArray("!L05DDCCBBAA#"));
    QCOMPARE(unit.receive(":D0A#", 2000), QByteArray("!D0A02000000#"));
    QCOMPARE(unit.receive(":D03#", 2000), QByteArray("!D0300000000#"));
}

void TestSimUnit::outputCalibrationStoresPlausibleCoefficients() {
    SimUnit unit;
    QByteArray before;
    for (int r = 0x10; r <= 0x17; ++r)
        before += unit.receive(":R" + QByteArray::number(r, 16).toUpper() + "#", 0);
    QCOMPARE(unit.receive(":SC#", 0), QByteArray("!S00000000#"));
    unit.receive(":SR#", 0); // the unit keeps its calibration without a burn
    QByteArray after;
    for (int r = 0x10; r <= 0x17; ++r) {
        const QByteArray reply =
            unit.receive(":R" + QByteArray::number(r, 16).toUpper() + "#", 2000);
        after += reply;
        const float v = floatOf(reply);
        if (r % 2 == 0)
            QVERIFY2(v > -12.5f && v < 12.5f, qPrintable(QString::number(v))); // intercept
        else
            QVERIFY2(v > 400.0f && v < 420.0f, qPrintable(QString::number(v))); // gain
    }
    QVERIFY(before != after);
}

void TestSimUnit::profileShapesIdentity() {
    SimProfile p;
    p.chip = SimChip::SAM4S2B;
    p.layoutCode = 3;
    p.appId = 2;
    p.featureFlags = 1u << 2; // BACNET only
    p.firmwareVersion = 105;
    p.serialNumber = 0;
    p.productName = "A-VERY-LONG-NAME";
    SimUnit unit(p);
    QCOMPARE(unit.receive(":U05#", 0), QByteArray("!U05E1079B28#"));
    QCOMPARE(unit.receive(":R00#", 0), QByteArray("!R0002010003#"));
    QCOMPARE(unit.receive(":R01#", 0), QByteArray("!R0104000020#"));
    QCOMPARE(unit.receive(":U04#", 0), QByteArray("!U0469000000#"));
    QCOMPARE(unit.receive(":R03#", 0), QByteArray("!R0300000000#"));
    // Eleven characters ("A-VERY-LONG") and a closing zero.
    QCOMPARE(unit.receive(":R0F#", 0), QByteArray("!R0F4F4E4700#"));
}

void TestSimUnit::actionsUnansweredWhenProfileSaysSo() {
    SimProfile p;
    p.acknowledgeActions = false;
    SimUnit unit(p);
    unit.receive(":W2603000000#", 0);
    QCOMPARE(unit.receive(":SP#", 0), QByteArray());
    QCOMPARE(unit.nonvolatileReg(0x26), 3);
    QCOMPARE(unit.actionCount("P"), 1);
}

void TestSimUnit::passThroughHandsEveryByteToThePeerUntilALoneBang() {
    SimUnit unit;
    QByteArray seen;
    bool ended = false;
    unit.setPassThroughPeer(std::make_unique<RecordingPeer>(&seen, &ended));
    QCOMPARE(unit.receive(":SZ#", 0), QByteArray());
    // Frames are not the unit's business now, and "!" inside a line is data.
    QCOMPARE(unit.receive("K 0\r\n", 1), QByteArray(" Z 00450 z 00449\r\n"));
    QCOMPARE(unit.receive(":R01#a!\r\n", 2), QByteArray(" Z 00450 z 00449\r\n"));
    QCOMPARE(seen, QByteArray("K 0\r\n:R01#a!\r\n"));
    QCOMPARE(unit.mode(), SimUnit::Mode::PassThrough);
    unit.receive("K 1\r\n!", 3);
    QVERIFY(ended);
    QCOMPARE(seen, QByteArray("K 0\r\n:R01#a!\r\nK 1\r\n"));
    QCOMPARE(unit.receive(":R21#", 4), QByteArray("!R2101000000#"));
}

void TestSimUnit::bootMonitorTakesTheLineUntilPowerCycle() {
    SimUnit unit;
    QByteArray seen;
    unit.setBootMonitor(std::make_unique<RecordingMonitor>(&seen));
    QCOMPARE(unit.lineSettings().baud, 9600);
    unit.receive(":SAMBA#", 0);
    QCOMPARE(unit.lineSettings().baud, 115200);
    QCOMPARE(unit.receive(":R01#", 1), QByteArray("\n\r"));
    QCOMPARE(unit.receive("N#", 2), QByteArray("\n\r"));
    QCOMPARE(seen, QByteArray(":R01#N#"));
    unit.powerCycle(10);
    QCOMPARE(unit.mode(), SimUnit::Mode::Protocol);
    QCOMPARE(unit.receive(":S#", 10 + unit.profile().resetSilenceMs),
             QByteArray("!S00000000#")); // power-up
}

void TestSimUnit::overlongFrameIsDropped() {
    SimUnit unit;
    QCOMPARE(unit.receive(":W01" + QByteArray(40, '0') + "#", 0), QByteArray());
    QCOMPARE(unit.framesReceived(), quint64(0));
    QCOMPARE(unit.receive(":R21#", 0), QByteArray("!R2101000000#"));
}

QTEST_GUILESS_MAIN(TestSimUnit)
#include "test_sim_unit.moc"
