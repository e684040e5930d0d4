// Where each cached register value came from, and the writes that send only
// what came from the unit, a file or the engineer: against the simulated
// unit in virtual time.
#include "app/lang_dll.h"
#include "config/comms_settings.h"
#include "diag/diagnostics.h"
#include "diag/identity.h"
#include "link/codec.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"

#include <QtTest>
#include <set>

using namespace gp;
using gp::test::SimRig;

namespace {

// Gives the unit settings that are not zero, so that a zero written over
// one of them shows.
void customise(sim::SimUnit& unit) {
    for (int r = 0x10; r < 256; ++r)
        if (unit.reg(r) == 0)
            unit.setReg(r, 0x01000000 + r);
}

std::array<int32_t, 256> unitRegisters(sim::SimUnit& unit) {
    std::array<int32_t, 256> regs{};
    for (int r = 0; r < 256; ++r)
        regs[static_cast<size_t>(r)] = unit.reg(r);
    return regs;
}

// Registers named by the ":Wnn...#" frames of a list.
std::set<int> writtenRegisters(const QStringList& frames) {
    std::set<int> regs;
    for (const QString& f : frames)
        if (f.startsWith(":W"))
            regs.insert(f.mid(2, 2).toInt(nullptr, 16));
    return regs;
}

} // namespace

class TestKnownWrites : public QObject {
    Q_OBJECT
  private slots:
    void eachSlotKnowsItsSource() {
        DeviceState s;
        QVERIFY(!s.known(0x28));
        QCOMPARE(DispatchReply(s, "!R280A000000#"), ReplyKind::R);
        QCOMPARE(s.RegSource[0x28], ValueSource::Unit);

        CfgContent file;
        file.registers[0x29] = 7;
        applyCfg(s, file);
        QCOMPARE(s.RegSource[0x29], ValueSource::File);
        QCOMPARE(s.RegSource[0x2A], ValueSource::Unknown);
        // The unit confirming the file's value leaves it the file's; an echo
        // of another value is what the unit holds.
        DispatchReply(s, "!W2907000000#");
        QCOMPARE(s.RegSource[0x29], ValueSource::File);
        DispatchReply(s, "!W2908000000#");
        QCOMPARE(s.RegSource[0x29], ValueSource::Unit);

        // A view changes the typed mirror; storing it makes only the changed
        // slot the engineer's.
        s.refreshRegRecord();
        s.RegRecord.slot[0x24] = 12;
        s.storeRegRecord();
        QCOMPARE(s.RegSource[0x24], ValueSource::Engineer);
        QCOMPARE(s.RegSource[0x25], ValueSource::Unknown);
        QCOMPARE(s.RegSource[0x28], ValueSource::Unit);
    }

    void registersAreForgottenOnAnotherPortOrUnit_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("forgotten");
        QTest::newRow("the same unit read again") << "same" << false;
        QTest::newRow("the port chosen again") << "port" << true;
        QTest::newRow("cable moved to a unit with another unique id") << "unit" << true;
    }
    void registersAreForgottenOnAnotherPortOrUnit() {
        QFETCH(QString, change);
        QFETCH(bool, forgotten);
        SimRig rig;
        rig.link.startBatch({BuildRead(0x28), BuildRead(0x40)});
        rig.runBatch();
        IdentityRead(rig.link);
        rig.runBatch();
        QVERIFY(rig.link.state.known(0x28));
        if (change == "port") {
            rig.link.choosePort(QStringLiteral("sim0"));
        } else {
            if (change == "unit") {
                sim::SimProfile other;
                other.uniqueId[3] ^= 1;
                rig.plug(other); // the cable moved to another unit
            }
            IdentityRead(rig.link);
            QCOMPARE(rig.runBatch(), -1);
        }
        QCOMPARE(rig.link.state.known(0x28), !forgotten);
        QCOMPARE(rig.link.state.known(0x40), !forgotten);
    }

    // Each row a write that once sent the zeros of a never-read cache.
    void writeSendsOnlyKnownRegisters_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QList<int>>("written"); // registers the write may send
        QTest::addColumn<QString>("firstFrame");
        QList<int> diagRegs;
        for (int r = 0x01; r <= 0x0F; ++r)
            diagRegs << r;
        diagRegs << 0x25 << 0x2E;
        // Start-up reads 00..04, 0D..0F, 21, 23, 24; of them 24 is a device
        // setting. Whether the device id applies depends on the vendor id in
        // register 04, which start-up has read: the write goes out at once.
        QTest::newRow("Write right after start-up") << "startup" << QList<int>{0x24} << ":W24";
        QTest::newRow("Write before any read reads what it needs first")
            << "cold" << QList<int>{0x24} << ":R00#";
        QTest::newRow("WriteAllRegisters after the diagnostics read")
            << "debug3" << diagRegs << ":W01";
    }
    void writeSendsOnlyKnownRegisters() {
        QFETCH(QString, scenario);
        QFETCH(QList<int>, written);
        QFETCH(QString, firstFrame);
        SimRig rig;
        customise(rig.unit());
        if (scenario == "startup") {
            IdentityRead(rig.link);
            rig.runBatch();
        } else if (scenario == "debug3") {
            A2DRange range;
            DiagnosticsRead(rig.link, range);
            rig.runBatch();
        }
        const auto before = unitRegisters(rig.unit());
        const auto from = rig.unit().frameHistory().size();
        WriteStart w;
        if (scenario == "debug3") {
            w = WriteAllRegisters(rig.link);
        } else {
            // What the "Write" button does: the comms controls as shown.
            w = WriteDeviceSettings(rig.link, {0x01, 0x04, kCommsRegister, kDeviceIdRegister},
                                    [](DeviceState& s) {
                                        s.refreshRegRecord();
                                        CommsControls c = ReadCommsControls(s, LangDll());
                                        StoreCommsControls(s, c);
                                        s.storeRegRecord();
                                    });
        }
        QVERIFY(!w.refused());
        QCOMPARE(rig.runBatch(), -1);
        const QStringList sent = rig.unit().frameHistory().mid(from);
        QVERIFY2(sent.first().startsWith(firstFrame), qPrintable(sent.first()));
        const std::set<int> regs = writtenRegisters(sent);
        QCOMPARE(regs, std::set<int>(written.begin(), written.end()));
        QVERIFY(unitRegisters(rig.unit()) == before);
        if (scenario != "debug3")
            QCOMPARE(sent.last(), QString(":SU#"));
    }

    // Register 23 rides along with the comms settings; never read, it is
    // read before the write instead of going out as a zero.
    void commsWriteReadsWhatItCarriesFirst() {
        SimRig rig;
        rig.unit().setReg(kCommsCompanionRegister, 0x00001234);
        writeComms(rig.link, {"5", 1, 1, 0, "0 = Auto"});
        QCOMPARE(rig.runBatch(), -1);
        QCOMPARE(rig.unit().frameHistory().first(), QString(":R01#"));
        QCOMPARE(rig.unit().reg(kCommsCompanionRegister), 0x00001234);
        QCOMPARE(rig.unit().reg(kCommsRegister) & 0xFF, 5);
    }

    // A write of what was read, with registers never read: the engineer is
    // told how many go out and which are left out, and may read them first.
    void writeOfWhatWasReadAsksAboutTheUnread_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("readFirst");
        QTest::addColumn<QString>("named"); // in the question
        QTest::newRow("main Write after start-up, written as read")
            << "write" << false << "22, 25..38, 3A..FF (219 registers)";
        QTest::newRow("main Write after start-up, read first")
            << "write" << true << "1 register(s) read";
        QTest::newRow("write all after the diagnostics read, read first")
            << "all" << true << "10..24, 26..2D, 2F..FF (238 registers)";
        QTest::newRow("write all after the diagnostics read, as read")
            << "all" << false << "17 register(s) read";
    }
    void writeOfWhatWasReadAsksAboutTheUnread() {
        QFETCH(QString, button);
        QFETCH(bool, readFirst);
        QFETCH(QString, named);
        SimRig rig;
        customise(rig.unit());
        if (button == "write") {
            IdentityRead(rig.link);
        } else {
            A2DRange range;
            DiagnosticsRead(rig.link, range);
        }
        rig.runBatch();
        test::ScriptedPrompts p;
        p.answers << readFirst;
        const auto before = unitRegisters(rig.unit());
        const auto from = rig.unit().frameHistory().size();
        const QList<int> unread = button == "write" ? unreadBeforeWriteWithComms(rig.link.state)
                                                    : unreadOfAllRegisters(rig.link.state);
        const WriteStart w =
            button == "write"
                ? writeDeviceSettingsWithComms(
                      rig.link, ReadCommsControls(rig.link.state, LangDll()),
                      askToReadFirst(p, unread,
                                     int(knownDeviceSettingsRegisters(rig.link.state).size())))
                : WriteAllRegistersAsking(rig.link, p);
        QVERIFY(!w.refused());
        QCOMPARE(p.asked.size(), 1);
        QVERIFY2(p.asked.first().contains(named), qPrintable(p.asked.first()));
        while (rig.runBatch() != -1 || rig.link.writes.pending()) {
        }
        const QStringList sent = rig.unit().frameHistory().mid(from);
        const std::set<int> regs = writtenRegisters(sent);
        // Read first, the registers left out go too, with the values read.
        for (int r : unread)
            QCOMPARE(regs.count(r), size_t(readFirst ? 1 : 0));
        QVERIFY(unitRegisters(rig.unit()) == before);
    }

    // A register write whose reply is lost is sent again, twice at most; the
    // ":SU#" behind the writes goes once, after them, and is never repeated.
    void lostWriteReplyIsSentAgain_data() {
        QTest::addColumn<QList<int>>("dropped"); // frames of the write, from 1
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("resent");
        const QString w21 = ":W21", w23 = ":W23", w24 = ":W24", su = ":SU#";
        QTest::newRow("every reply") << QList<int>{} << QStringList{w21, w23, w24, su} << 0;
        QTest::newRow("21 lost once") << QList<int>{1} << QStringList{w21, w23, w24, w21, su} << 1;
        QTest::newRow("24 lost three times: given up")
            << QList<int>{3, 4, 5} << QStringList{w21, w23, w24, w24, w24, su} << 2;
        QTest::newRow(":SU# lost: never repeated")
            << QList<int>{4} << QStringList{w21, w23, w24, su} << 0;
    }
    void lostWriteReplyIsSentAgain() {
        QFETCH(QList<int>, dropped);
        QFETCH(QStringList, expected);
        QFETCH(int, resent);
        SimRig rig;
        ReadAllRegisters(rig.link);
        rig.runBatch();
        for (int n : dropped)
            rig.port->dropReplyToFrame(n);
        const auto from = rig.unit().frameHistory().size();
        QStringList said;
        rig.link.writes.onWritten = [&](const QStringList& unconfirmed, int n) {
            said << QStringLiteral("%1 resent, unconfirmed: %2").arg(n).arg(unconfirmed.join(' '));
        };
        writeComms(rig.link, {"7", 1, 1, 0, "0 = Auto"});
        for (int i = 0; i < 20 && rig.link.busy(); ++i)
            rig.runBatch();
        QVERIFY(!rig.link.busy());
        QStringList sent;
        for (const QString& f : rig.unit().frameHistory().mid(from))
            sent << (f.startsWith(":W") ? f.left(4) : f);
        QCOMPARE(sent, expected);
        QCOMPARE(rig.link.writes.resent(), resent);
        // Done with once, naming what the unit never confirmed.
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().startsWith(QString::number(resent) + " resent") &&
                     said.first().contains(":W24") == (dropped.size() == 3) &&
                     said.first().contains(":SU#") == (dropped == QList<int>{4}),
                 qPrintable(said.first()));
        QCOMPARE(rig.unit().reg(kCommsRegister) & 0xFF, 7);
    }

    void writeAllWithNothingReadIsRefused() {
        SimRig rig;
        const WriteStart w = WriteAllRegisters(rig.link);
        QVERIFY(w.refused());
        rig.runTicks(20);
        QCOMPARE(rig.unit().framesReceived(), quint64(0));
    }

    // A read whose reply is lost is sent again (twice at most) before the
    // write is refused naming the register: a late reply on a busy machine
    // does not cost the write.
    void lostReadIsReadAgainOrRefusesNamingTheRegister_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("written");
        QTest::newRow("lost once: read again, written") << "drop@1" << true;
        QTest::newRow("never answered: refused") << "drop@every" << false;
    }
    void lostReadIsReadAgainOrRefusesNamingTheRegister() {
        QFETCH(QString, fault);
        QFETCH(bool, written);
        SimRig rig;
        QString refusal;
        rig.link.writes.onRefused = [&](const QString& why) { refusal = why; };
        QVERIFY(rig.port->arm(fault));
        const WriteStart w = WriteDeviceSettings(rig.link);
        QVERIFY(!w.refused());
        QVERIFY(w.readBatchId != 0);
        rig.runUntil([&] { return !rig.link.busy(); });
        rig.runTicks(20);
        if (written) {
            QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
            QCOMPARE(rig.unit().frameHistory().count(":R00#"), 2);
            QVERIFY2(rig.unit().frameHistory().contains(":SU#"),
                     qPrintable(rig.unit().frameHistory().join(' ')));
        } else {
            QVERIFY2(refusal.contains("00"), qPrintable(refusal));
            QCOMPARE(rig.unit().frameHistory().count(":R00#"), 1 + WriteGate::kReadsAgain);
            QVERIFY(writtenRegisters(rig.unit().frameHistory()).empty());
            QVERIFY(!rig.unit().frameHistory().contains(":SU#"));
        }
    }

    // A write waiting for its read gives way to a batch started meanwhile
    // and says so, rather than sending into it.
    void anotherBatchDuringTheReadRefusesTheWrite() {
        SimRig rig;
        QString refusal;
        rig.link.writes.onRefused = [&](const QString& why) { refusal = why; };
        WriteDeviceSettings(rig.link);
        rig.step();
        IdentityRead(rig.link);
        rig.runBatch();
        QVERIFY(!refusal.isEmpty());
        QVERIFY(writtenRegisters(rig.unit().frameHistory()).empty());
    }
};

QTEST_GUILESS_MAIN(TestKnownWrites)
#include "test_known_writes.moc"
