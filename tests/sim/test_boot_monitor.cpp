// The simulated boot monitor is as strict as the chip: the flash
// controller's error bits clear when its status is read, the firmware clears
// boot-from-flash before it enters the monitor, and only a power cycle
// leaves the monitor, into an image that is whole and marked to boot.
// Each row is a script of steps on one unit; monitor commands are written
// out as the flashing tool sends them.

#include "sim/boot_monitor.h"
#include "sim/sim_unit.h"

#include <QTest>

using gp::sim::SambaMonitor;
using gp::sim::SimChip;
using gp::sim::SimProfile;
using gp::sim::SimUnit;

namespace {

struct Rig {
    explicit Rig(SimChip chip) : unit(profileFor(chip)) {
        monitor = &dynamic_cast<SambaMonitor&>(unit.bootMonitor());
    }
    static SimProfile profileFor(SimChip chip) {
        SimProfile p;
        p.chip = chip;
        return p;
    }
    QByteArray send(const QByteArray& text) {
        t += 50;
        return unit.receive(text, t);
    }
    // The flash controller's status register (EEFC_FSR).
    uint32_t fsr() {
        const QByteArray r = send("w400E0A08,4#");
        uint32_t v = 0;
        for (int i = 0; i < r.size() && i < 4; ++i)
            v |= uint32_t(uint8_t(r[i])) << (8 * i);
        return v;
    }
    // A flash controller command: key 5A, argument, command.
    void eefc(uint32_t command, uint32_t arg) {
        send("W400E0A04," +
             QByteArray::number(0x5A000000u | (arg << 8) | command, 16).rightJustified(8, '0') +
             "#");
    }
    void powerCycle() {
        t += 50;
        unit.powerCycle(t);
        t += 2000; // starting up
    }

    SimUnit unit;
    SambaMonitor* monitor = nullptr;
    double t = 0;
};

} // namespace

class TestBootMonitor : public QObject {
    Q_OBJECT
  private slots:
    void scripts_data() {
        QTest::addColumn<QString>("chip");
        QTest::addColumn<QString>("script");
        QTest::newRow("lock error shows once, then the status is clean")
            << "sam4s2b"
            << "lock samba erase fsr=5 fsr=1";
        QTest::newRow("unlock-only run, then the erase goes through")
            << "sam4s2b"
            << "lock samba erase fsr=5 unlock fsr=1 erase fsr=1 locks=0";
        QTest::newRow("command error clears on read too") << "sam3n2b"
                                                          << "samba badkey fsr=3 fsr=1";
        QTest::newRow("entering the boot loader clears boot-from-flash") << "sam4s2b"
                                                                         << "boot=1 samba boot=0";
        QTest::newRow("power cycle without a new image stays in the boot loader")
            << "sam4s2b"
            << "samba power monitor answersN";
        QTest::newRow("half-written image does not boot") << "sam4s2b"
                                                          << "samba half power monitor answersN";
        QTest::newRow("whole image without boot-from-flash does not boot")
            << "sam3n2b"
            << "samba wholeNoBoot power monitor";
        QTest::newRow("whole image with boot-from-flash boots its version")
            << "sam3n2b"
            << "samba whole power firmware version=307";
        QTest::newRow("a unit that never entered the boot loader restarts its firmware")
            << "sam4s2b"
            << "power firmware";
        QTest::newRow("boot loader waits for a power cycle before it answers")
            << "sam3n2b"
            << "wait samba silentN power monitor answersN";
    }
    void scripts() {
        QFETCH(QString, chip);
        QFETCH(QString, script);
        Rig rig(chip == "sam3n2b" ? SimChip::SAM3N2B : SimChip::SAM4S2B);
        const QByteArray image = gp::sim::sampleFirmwareImage(307, 3000);
        for (const QString& step : script.split(' ')) {
            const QString arg = step.section('=', 1);
            const QByteArray what = qPrintable(QString("%1 in \"%2\"").arg(step, script));
            if (step == "lock") {
                gp::sim::BootMonitorFaults f;
                f.regionLocked = true;
                rig.monitor->setFaults(f);
            } else if (step == "wait") {
                rig.monitor->setWaitForPowerCycle(true);
            } else if (step == "samba") {
                rig.send(":SAMBA#");
            } else if (step == "erase") {
                rig.eefc(0x05, 0);
            } else if (step == "unlock") {
                rig.eefc(0x09, 0); // clear the lock bit of the region of page 0
            } else if (step == "badkey") {
                rig.send("W400E0A04,12000005#");
            } else if (step.startsWith("fsr=")) {
                QVERIFY2(rig.fsr() == arg.toUInt(), what);
            } else if (step.startsWith("locks=")) {
                QVERIFY2(rig.monitor->lockBits() == arg.toUInt(), what);
            } else if (step.startsWith("boot=")) {
                QVERIFY2(((rig.monitor->gpnvm() >> 1) & 1) == arg.toUInt(), what);
            } else if (step == "half") {
                rig.monitor->program(image, true, image.size() / 2);
            } else if (step == "whole") {
                rig.monitor->program(image, true);
            } else if (step == "wholeNoBoot") {
                rig.monitor->program(image, false);
            } else if (step == "power") {
                rig.powerCycle();
            } else if (step == "monitor") {
                QVERIFY2(rig.unit.mode() == SimUnit::Mode::BootMonitor, what);
                QVERIFY2(rig.send(":R01#").isEmpty(), what); // no frame of the firmware's
            } else if (step == "firmware") {
                QVERIFY2(rig.unit.mode() == SimUnit::Mode::Protocol, what);
                QVERIFY2(rig.send(":R01#").startsWith("!R01"), what);
            } else if (step == "answersN") {
                QVERIFY2(rig.send("N#") == "\n\r", what);
            } else if (step == "silentN") {
                QVERIFY2(rig.send("N#").isEmpty(), what);
            } else if (step.startsWith("version=")) {
                QVERIFY2(rig.unit.profile().firmwareVersion == arg.toInt(), what);
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
    }

    // The unit that power-cycles itself once the flashing tool has gone
    // quiet: the tool's commands keep it waiting, the frames of the unit's
    // own protocol (a program asking the new firmware for its status) are
    // noise to the monitor and do not.
    void autoPowerCycleWaitsForTheToolsQuiet_data() {
        QTest::addColumn<QByteArray>("traffic");
        QTest::addColumn<bool>("restarted");
        QTest::newRow("status requests every 180 ms") << QByteArray(":S#") << true;
        QTest::newRow("register reads every 180 ms") << QByteArray(":R01#") << true;
        QTest::newRow("tool reads a word every 180 ms") << QByteArray("w00400000,4#") << false;
    }
    void autoPowerCycleWaitsForTheToolsQuiet() {
        QFETCH(QByteArray, traffic);
        QFETCH(bool, restarted);
        Rig rig(SimChip::SAM4S2B);
        rig.monitor->setAutoPowerCycle(SambaMonitor::kRestartQuietMs);
        rig.unit.receive(":SAMBA#", rig.t);
        QCOMPARE(rig.unit.mode(), SimUnit::Mode::BootMonitor);
        rig.send("V#");
        rig.monitor->program(gp::sim::sampleFirmwareImage(305, 2048), true);
        rig.send("V#"); // the tool's last word
        for (int i = 0; i < 10 && rig.unit.mode() == SimUnit::Mode::BootMonitor; ++i) {
            rig.t += 130; // send() adds 50
            rig.send(traffic);
        }
        QCOMPARE(rig.unit.mode() == SimUnit::Mode::Protocol, restarted);
        QCOMPARE(rig.monitor->restarts(), restarted ? 1 : 0);
        if (restarted)
            QCOMPARE(rig.unit.profile().firmwareVersion, 305);
    }

    void wholeImages_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("complete");
        QTest::newRow("as built") << "" << true;
        QTest::newRow("in erased flash") << "padded" << true;
        QTest::newRow("cut short") << "cut" << false;
        QTest::newRow("one byte flipped") << "flip" << false;
        QTest::newRow("no version marker") << "nomarker" << false;
    }
    void wholeImages() {
        QFETCH(QString, damage);
        QFETCH(bool, complete);
        QByteArray image = gp::sim::sampleFirmwareImage(221, 2048);
        if (damage == "padded")
            image += QByteArray(4096, '\xFF');
        if (damage == "cut")
            image.chop(700);
        if (damage == "flip")
            image[1000] = char(image[1000] ^ 0x01);
        if (damage == "nomarker")
            image.replace("QRUFWVER=", "XXXXXXXX=");
        QCOMPARE(gp::sim::imageIsComplete(image), complete);
    }
};

QTEST_GUILESS_MAIN(TestBootMonitor)
#include "test_boot_monitor.moc"
