// The guided firmware update in virtual time against the simulated unit,
// with a fake flashing tool that stands for bossac's effect on the unit.
#include "flash/firmware_update.h"
#include "flash_rig.h"

#include <QtTest>

using namespace gp;

namespace {
enum class Tool { Flashes, ExitsNonZero, Missing, FlashesNothing };
}
Q_DECLARE_METATYPE(Tool)

class TestFirmwareUpdate : public QObject {
    Q_OBJECT
  private slots:
    void runs_data() {
        QTest::addColumn<Tool>("tool");
        QTest::addColumn<bool>("monitorAnswers");
        QTest::addColumn<QString>("answers"); // Y/N for the questions, in order
        QTest::addColumn<bool>("noLogo");
        QTest::addColumn<QString>("tamper"); // "", "reg1", "dropWrite"
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("expectText"); // in the step text or a message
        QTest::addColumn<int>("questions");

        QTest::newRow("success restores settings and logo")
            << Tool::Flashes << true << "" << false << "" << true << "Update Complete" << 0;
        QTest::newRow("no logo write leaves the erased logo")
            << Tool::Flashes << true << "" << true << "" << true << "Update Complete" << 0;
        QTest::newRow("tool exits non-zero")
            << Tool::ExitsNonZero << true << "" << false << "" << false << "exit code 2" << 0;
        QTest::newRow("tool missing names program and package")
            << Tool::Missing << true << "" << false << "" << false << "bossa-cli" << 0;
        QTest::newRow("no monitor answer, wait once more, then give up")
            << Tool::Flashes << false << "YN" << false << "" << false << "Firmware Update Failed"
            << 2;
        QTest::newRow("new firmware never answers, no re-flash")
            << Tool::FlashesNothing << true << "NN" << false << "" << false
            << "Firmware Update Failed" << 2;
        QTest::newRow("register 01 read back differs")
            << Tool::Flashes << true << "" << false << "reg1" << false << "Firmware Update Failed"
            << 0;
        QTest::newRow("unanswered write-back is named")
            << Tool::Flashes << true << "" << false << "dropWrite" << true << "not confirmed" << 0;
    }
    void runs() {
        QFETCH(Tool, tool);
        QFETCH(bool, monitorAnswers);
        QFETCH(QString, answers);
        QFETCH(bool, noLogo);
        QFETCH(QString, tamper);
        QFETCH(bool, succeeds);
        QFETCH(QString, expectText);
        QFETCH(int, questions);

        test::FlashRig rig;
        sim::SimUnit& unit = *rig.unit;
        for (int r = 0x22; r < 0x30; ++r)
            unit.setReg(r, 0x1000 + r);
        const int32_t reg1 = unit.reg(1);
        const int32_t reg25 = unit.reg(0x25);
        const int32_t logo7 = unit.logo(7);
        if (!monitorAnswers)
            unit.setBootMonitor(std::make_unique<sim::SilentBootMonitor>());
        for (QChar c : answers)
            rig.prompts.answers << (c == 'Y');
        rig.prompts.files << "/srv/fw/unit 3.07.bin";
        rig.runner.exitCode = tool == Tool::ExitsNonZero ? 2 : 0;
        rig.runner.failToStart = tool == Tool::Missing;
        if (tool == Tool::Flashes)
            rig.runner.effect = [&] {
                // What bossac -e and the engineer's power cycle do to the unit.
                unit.eraseFlash();
                unit.setFirmwareVersion(307);
                unit.powerCycle(rig.port->nowMs());
            };

        FirmwareUpdate update(rig.ctx, rig.runner);
        update.noLogo = noLogo;
        update.clickButton();
        QCOMPARE(update.buttonCaption(), QString("Next"));
        bool tampered = false;
        QVERIFY(rig.run(update, [&] {
            // Kept up through the reset, so that the unit answers the read-back
            // with another value.
            if (tamper == "reg1" && update.state() == 10) {
                unit.setReg(1, reg1 ^ 0x10);
                tampered = true;
            }
            if (tamper == "dropWrite" && update.state() == 701 && !tampered) {
                rig.port->dropNextReply();
                tampered = true;
            }
            return update.state() == 0 || update.state() == -2;
        }));

        const QString seen = update.stepText() + " | " + rig.prompts.messages.join(" | ");
        QVERIFY2(seen.contains(expectText), qPrintable(seen));
        QCOMPARE(rig.prompts.asked.size(), questions);
        QCOMPARE(update.state(), succeeds ? -2 : 0);
        QCOMPARE(update.buttonCaption(), QString(succeeds ? "Exit" : "Start"));
        QVERIFY(update.buttonEnabled());
        // Every way out leaves the link usable.
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(!rig.link.serial.BootProbe);
        QVERIFY(rig.link.serial.isOpen());
        if (tool == Tool::Missing || tool == Tool::ExitsNonZero)
            QVERIFY(seen.contains("power cycle"));
        if (rig.runner.starts > 0) {
            QCOMPARE(rig.runner.program, QString("bossac"));
            QCOMPARE(rig.runner.arguments,
                     QStringList({"-e", "-u", "-w", "-b", "-v", "--usb-port=0", "-p/dev/ttySIM0",
                                  "/srv/fw/unit 3.07.bin"}));
        }
        if (succeeds) {
            QCOMPARE(unit.profile().firmwareVersion, 307);
            QCOMPARE(unit.reg(1), reg1);
            QCOMPARE(unit.reg(0x25), reg25);
            QCOMPARE(unit.nonvolatileReg(0x25), reg25);
            QCOMPARE(unit.logo(7), noLogo ? -1 : logo7);
            QCOMPARE(update.unconfirmed().isEmpty(), tamper.isEmpty());
        }
        if (succeeds && tamper.isEmpty())
            QCOMPARE(update.stepText(), QString("Update Complete"));
    }

    void stoppingAHungToolAsksForAPowerCycle() {
        test::FlashRig rig;
        rig.prompts.files << "/tmp/fw.bin";
        rig.runner.hang = true;
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.toolRunning(); }));
        QVERIFY(!rig.link.serial.isOpen()); // the tool has the port
        update.stopTool();
        QVERIFY(rig.run(update, [&] { return update.state() == 0; }));
        QVERIFY(rig.prompts.messages.join("").contains("stopped"));
        QVERIFY(rig.prompts.messages.join("").contains("power cycle"));
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(rig.link.serial.isOpen());
    }

    void abandoningMidRunPutsTheLinkBack() {
        test::FlashRig rig;
        rig.prompts.files << "/tmp/fw.bin";
        rig.runner.hang = true;
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.state() == 4; }));
        QVERIFY(update.runInProgress());
        update.abandon();
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(!rig.link.serial.BootProbe);
        QVERIFY(rig.link.serial.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestFirmwareUpdate)
#include "test_firmware_update.moc"
