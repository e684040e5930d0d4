// The guided firmware update in virtual time against the simulated unit,
// with a fake flashing tool that stands for bossac's effect on the unit.
#include "flash/backup_restore.h"
#include "flash/firmware_update.h"
#include "flash_rig.h"
#include "sim/boot_monitor.h"

#include <QtTest>

using namespace gp;

namespace {
enum class Tool { Flashes, ExitsNonZero, Missing, FlashesNothing };

sim::SambaMonitor& monitorOf(sim::SimUnit& unit) {
    return dynamic_cast<sim::SambaMonitor&>(unit.bootMonitor());
}

// Settings and a logo of this unit's own, so that defaults cannot pass.
void personalise(sim::SimUnit& unit) {
    for (int r = 0x22; r < 0x30; ++r)
        unit.setReg(r, 0x1000 + r);
    for (int w = 0; w < 128; w += 3)
        unit.setLogo(w, 0x5A000000 | w);
}
} // namespace
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
        QTest::addColumn<QString>("image"); // ok, oversize, empty, missing
        QTest::addColumn<bool>("entersBootLoader");

        QTest::newRow("success restores settings and logo")
            << Tool::Flashes << true << "" << false << "" << true << "Update Complete" << 0 << "ok"
            << true;
        QTest::newRow("no logo write leaves the erased logo")
            << Tool::Flashes << true << "" << true << "" << true << "Update Complete" << 0 << "ok"
            << true;
        QTest::newRow("tool exits non-zero: names the backup and the way back")
            << Tool::ExitsNonZero << true << "" << false << "" << false << "exit code 2" << 0
            << "ok" << true;
        QTest::newRow("tool missing: refused before the boot loader, names the package")
            << Tool::Missing << true << "" << false << "" << false << "bossa-cli" << 0 << "ok"
            << false;
        QTest::newRow("oversize image refused before the boot loader")
            << Tool::Flashes << true << "" << false << "" << false << "more than the 131072 bytes"
            << 0 << "oversize" << false;
        QTest::newRow("empty image refused before the boot loader")
            << Tool::Flashes << true << "" << false << "" << false << "is empty" << 0 << "empty"
            << false;
        QTest::newRow("unreadable image refused before the boot loader")
            << Tool::Flashes << true << "" << false << "" << false << "cannot be read" << 0
            << "missing" << false;
        QTest::newRow("no monitor answer, wait once more, then give up")
            << Tool::Flashes << false << "YN" << false << "" << false << "Firmware Update Failed"
            << 2 << "ok" << true;
        QTest::newRow("new firmware never answers, no re-flash")
            << Tool::FlashesNothing << true << "NN" << false << "" << false
            << "Firmware Update Failed" << 2 << "ok" << true;
        QTest::newRow("register 01 read back differs")
            << Tool::Flashes << true << "" << false << "reg1" << false << "Firmware Update Failed"
            << 0 << "ok" << true;
        QTest::newRow("unanswered write-back is named")
            << Tool::Flashes << true << "" << false << "dropWrite" << true << "not confirmed" << 0
            << "ok" << true;
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
        QFETCH(QString, image);
        QFETCH(bool, entersBootLoader);

        test::FlashRig rig;
        sim::SimUnit& unit = *rig.unit;
        personalise(unit);
        const int32_t reg1 = unit.reg(1);
        const int32_t reg25 = unit.reg(0x25);
        const int32_t logo7 = unit.logo(7);
        if (!monitorAnswers)
            unit.setBootMonitor(std::make_unique<sim::SilentBootMonitor>());
        for (QChar c : answers)
            rig.prompts.answers << (c == 'Y');
        const QByteArray content = image == "oversize" ? sim::sampleFirmwareImage(307, 200 * 1024)
                                   : image == "empty"  ? QByteArray()
                                                       : sim::sampleFirmwareImage(307, 4000);
        const QString path = image == "missing" ? rig.dir.filePath("gone/unit 3.07.bin")
                                                : rig.writeFile("unit 3.07.bin", content);
        rig.prompts.files << path;
        rig.runner.exitCode = tool == Tool::ExitsNonZero ? 2 : 0;
        rig.runner.failToStart = tool == Tool::Missing;
        if (tool == Tool::Flashes)
            rig.runner.effect = [&] {
                // What bossac -e -w -b and the engineer's power cycle do.
                monitorOf(unit).program(content, true);
                unit.powerCycle(rig.port->nowMs());
            };

        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.noLogo = noLogo;
        update.clickButton();
        QCOMPARE(update.buttonCaption(), QString("Next"));
        bool tampered = false;
        QStringList activities; // the words beside the state number, in order
        QList<int> steps;       // the overall step numbers, in order
        QVERIFY(rig.run(update, [&] {
            if (steps.value(steps.size() - 1, -1) != update.stepNumber())
                steps << update.stepNumber();
            if (activities.value(activities.size() - 1) != update.activity())
                activities << update.activity();
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
        // Nothing reaches the unit's boot loader before every check passed;
        // after that, a failure names the backup and the way back.
        QCOMPARE(unit.actionCount("AMBA"), entersBootLoader ? 1 : 0);
        QCOMPARE(update.backup().has_value(), entersBootLoader);
        if (!entersBootLoader) {
            QCOMPARE(rig.runner.starts, 0);
            QVERIFY2(seen.contains("Nothing was sent to the unit"), qPrintable(seen));
        } else if (!succeeds) {
            QVERIFY2(seen.contains(update.backup()->cfg), qPrintable(seen));
            QVERIFY2(seen.contains("power cycle") && seen.contains("Restore from backup") &&
                         seen.contains("glimmerpane-cli restore"),
                     qPrintable(seen));
        }
        if (rig.runner.starts > 0) {
            QCOMPARE(rig.runner.program, QString("bossac"));
            QCOMPARE(rig.runner.arguments, QStringList({"-e", "-u", "-w", "-b", "-v",
                                                        "--usb-port=0", "-p/dev/ttySIM0", path}));
        }
        if (succeeds) {
            QCOMPARE(unit.profile().firmwareVersion, 307);
            QCOMPARE(unit.reg(1), reg1);
            QCOMPARE(unit.reg(0x25), reg25);
            QCOMPARE(unit.nonvolatileReg(0x25), reg25);
            QCOMPARE(unit.logo(7), noLogo ? -1 : logo7);
            QCOMPARE(update.unconfirmed().isEmpty(), tamper.isEmpty());
        }
        if (succeeds && tamper.isEmpty()) {
            QCOMPARE(update.stepText(), QString("Update Complete"));
            const QStringList words{"Reading settings", "Writing settings back", "Checking"};
            for (const QString& w : words)
                QVERIFY2(activities.contains(w), qPrintable(activities.join('|')));
            // The overall step only goes forward and ends at the last.
            QVERIFY(std::is_sorted(steps.begin() + 1, steps.end()));
            QCOMPARE(steps.last(), FirmwareUpdate::kStepCount);
            QVERIFY2(activities.indexOf("Reading settings") < activities.indexOf("Checking"),
                     qPrintable(activities.join('|')));
            QVERIFY2(std::any_of(activities.begin(), activities.end(),
                                 [](const QString& a) { return a.startsWith("Flashing "); }),
                     qPrintable(activities.join('|')));
        }
    }

    void stoppingAHungToolAsksForAPowerCycle() {
        test::FlashRig rig;
        rig.prompts.files << rig.writeFile("fw.bin", sim::sampleFirmwareImage(307));
        rig.runner.hang = true;
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
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
        rig.prompts.files << rig.writeFile("fw.bin", sim::sampleFirmwareImage(307));
        rig.runner.hang = true;
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.state() == 4; }));
        QVERIFY(update.runInProgress());
        update.abandon();
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(!rig.link.serial.BootProbe);
        QVERIFY(rig.link.serial.isOpen());
    }
    // The engineer stops the tool after it erased and half wrote the flash.
    // The unit keeps its boot loader through a power cycle (a half-written
    // image does not boot); flashed again, it has lost its settings, and the
    // restore from the backup gives every register and logo word back.
    void stoppedFlashThenRestoreFromBackupGivesEverythingBack() {
        test::FlashRig rig;
        sim::SimUnit& unit = *rig.unit;
        personalise(unit);
        std::array<int32_t, 256> regs{};
        std::array<int32_t, 128> logo{};
        for (int r = 0; r < 256; ++r)
            regs[size_t(r)] = unit.reg(r);
        for (int w = 0; w < 128; ++w)
            logo[size_t(w)] = unit.logo(w);
        const QByteArray image = sim::sampleFirmwareImage(307, 4000);
        rig.prompts.files << rig.writeFile("fw.bin", image);
        rig.runner.hang = true;
        rig.runner.onStart = [&] { monitorOf(unit).program(image, false, image.size() / 2); };
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.toolRunning(); }));
        update.stopTool();
        QVERIFY(rig.run(update, [&] { return update.state() == 0; }));
        QVERIFY(update.backup());
        const QString told = rig.prompts.messages.join(" | ");
        QVERIFY2(told.contains(update.backup()->cfg) && told.contains(update.backup()->lgo),
                 qPrintable(told));
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(rig.link.serial.isOpen());

        unit.powerCycle(rig.port->nowMs());
        QCOMPARE(unit.mode(), sim::SimUnit::Mode::BootMonitor);
        monitorOf(unit).program(image, true);
        unit.powerCycle(rig.port->nowMs());
        QCOMPARE(unit.mode(), sim::SimUnit::Mode::Protocol);
        QCOMPARE(unit.reg(0x25), -1); // the settings went with the erase

        rig.port->advance(2000); // the unit starts up after its power cycle
        BackupRestore restore(rig.link);
        QCOMPARE(restore.start(update.backup()->cfg, update.backup()->lgo), QString());
        QVERIFY(rig.run(restore, [&] { return restore.finished(); }));
        QVERIFY2(restore.succeeded(), qPrintable(restore.stepText()));
        QCOMPARE(restore.report().confirmed, 255);
        QCOMPARE(restore.report().logoConfirmed, 128);
        for (int r = 0; r < 256; ++r) {
            QVERIFY2(unit.reg(r) == regs[size_t(r)], qPrintable(QString("register %1").arg(r)));
            QVERIFY2(unit.nonvolatileReg(r) == regs[size_t(r)],
                     qPrintable(QString("burnt register %1").arg(r)));
        }
        for (int w = 0; w < 128; ++w)
            QVERIFY2(unit.logo(w) == logo[size_t(w)], qPrintable(QString("logo word %1").arg(w)));
    }

    // Start again on a unit that sits in its boot loader: the read gets no
    // answer, the newest backup of that unit is offered, and the update
    // flashes and writes the backup's settings.
    void secondStartOnAUnitInItsBootLoaderOffersItsBackup_data() {
        QTest::addColumn<bool>("freshProgram");
        QTest::newRow("same program: the newest backup of the unit last seen") << false;
        QTest::newRow("a new program (command line): the backup it was given") << true;
    }
    void secondStartOnAUnitInItsBootLoaderOffersItsBackup() {
        QFETCH(bool, freshProgram);
        test::FlashRig rig;
        sim::SimUnit& unit = *rig.unit;
        personalise(unit);
        const int32_t reg25 = unit.reg(0x25);
        const int32_t logo3 = unit.logo(3);
        const QByteArray image = sim::sampleFirmwareImage(307, 4000);
        const QString path = rig.writeFile("fw.bin", image);
        rig.prompts.files << path << path;
        rig.runner.exitCode = 1;
        rig.runner.onStart = [&] { monitorOf(unit).program(QByteArray(), false); };
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.state() == 0; }));
        QVERIFY(update.backup());
        const flash::Backup first = *update.backup();
        unit.powerCycle(rig.port->nowMs());
        QCOMPARE(unit.mode(), sim::SimUnit::Mode::BootMonitor);

        rig.runner.exitCode = 0;
        rig.runner.onStart = nullptr;
        rig.runner.effect = [&] {
            monitorOf(unit).program(image, true);
            unit.powerCycle(rig.port->nowMs());
        };
        if (freshProgram) {
            // Nothing known of the unit; a backup in the folder is not taken
            // for it, the one named is.
            rig.link.state.IdentStrings = {};
            update.backupFolder = rig.dir.filePath("nothing here");
            update.offeredBackup = first;
        }
        rig.prompts.answers << true; // take the backup
        update.clickButton();
        QVERIFY(rig.run(update, [&] { return update.state() == 0 || update.state() == -2; }));
        QVERIFY2(update.state() == -2,
                 qPrintable(update.stepText() + " | " + rig.prompts.messages.join(" | ")));
        QCOMPARE(rig.prompts.asked.size(), 1);
        QVERIFY(rig.prompts.asked.first().contains(first.cfg));
        QCOMPARE(update.backup()->cfg, first.cfg); // no new backup of an erased unit
        QCOMPARE(unit.actionCount("AMBA"), 1);
        QCOMPARE(unit.reg(0x25), reg25);
        QCOMPARE(unit.logo(3), logo3);
        QCOMPARE(unit.profile().firmwareVersion, 307);
    }

    void restoreRefusesABackupOfAnotherUnit() {
        test::FlashRig rig;
        rig.link.state.IdentStrings = {"00000001", "00000002", "00000003", "00000004", ""};
        QString error;
        const auto b = flash::writeBackup(rig.link.state, rig.dir.filePath("b"),
                                          QDateTime(QDate(2026, 3, 1), QTime(10, 0)), &error);
        QVERIFY2(b, qPrintable(error));
        QVERIFY(b->cfg.contains("unit-00000001-00000002-00000003-00000004-20260301-100000"));
        const int32_t reg25 = rig.unit->reg(0x25);
        BackupRestore restore(rig.link);
        QCOMPARE(restore.start(b->cfg, b->lgo), QString());
        QVERIFY(rig.run(restore, [&] { return restore.finished(); }));
        QVERIFY(!restore.succeeded());
        QVERIFY2(restore.stepText().contains("belongs to the unit 00000001"),
                 qPrintable(restore.stepText()));
        QCOMPARE(rig.unit->reg(0x25), reg25);
        QCOMPARE(restore.report().writes, 0);
    }
    // A SAM3N2B unit's boot loader answers only after a power cycle: the
    // step text asks for it, and the run goes on once it is done.
    void sam3n2bBootLoaderAnswersAfterThePowerCycleAskedFor() {
        sim::SimProfile profile;
        profile.chip = sim::SimChip::SAM3N2B;
        test::FlashRig rig(profile);
        sim::SimUnit& unit = *rig.unit;
        monitorOf(unit).setWaitForPowerCycle(true);
        const QByteArray image = sim::sampleFirmwareImage(307, 4000);
        rig.prompts.files << rig.writeFile("fw.bin", image);
        rig.runner.effect = [&] {
            monitorOf(unit).program(image, true);
            unit.powerCycle(rig.port->nowMs());
        };
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        int probeTicks = 0;
        QVERIFY(rig.run(update, [&] {
            if (update.state() == 4 && monitorOf(unit).waitingForPowerCycle() &&
                update.stepText() == "Power cycle the device." && ++probeTicks == 100)
                unit.powerCycle(rig.port->nowMs()); // the engineer does as asked
            return update.state() == 0 || update.state() == -2;
        }));
        QCOMPARE(probeTicks, 100); // it waited, asking, until the power cycle
        QVERIFY2(update.state() == -2,
                 qPrintable(update.stepText() + " | " + rig.prompts.messages.join(" | ")));
        QCOMPARE(unit.profile().firmwareVersion, 307);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareUpdate)
#include "test_firmware_update.moc"
