// The guided firmware update in virtual time against the simulated unit,
// with a fake flashing tool that stands for bossac's effect on the unit.
#include "flash/backup_restore.h"
#include "flash/firmware_update.h"
#include "flash_rig.h"
#include "sim/boot_monitor.h"

#include <QRegularExpression>
#include <QtTest>

using namespace gp;

namespace {
enum class Tool { Flashes, ExitsNonZero, Missing, FlashesNothing };
enum class Fault {
    Cancel,
    PowerCut,
    ToolKilled,
    ToolExitsNonZero,
    ToolHangs,
    ToolMissing,
    SilentAfterFlash,
    PortVanishes
};
using UpdateState = FirmwareUpdate::State;

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

// What a successful or failed run leaves behind, for comparing two runs.
struct Outcome {
    FirmwareUpdate::State state = FirmwareUpdate::State::Idle;
    QString stepText;
    QStringList messages;
    QStringList asked;
    QStringList frames; // what the unit took in, status requests left out
    std::array<int32_t, 256> regs{};
    std::array<int32_t, 256> burnt{};
    std::array<int32_t, 128> logo{};
    int firmware = 0;
    QStringList unconfirmed;
};

// One whole update of a personalised unit; fast: with the fast link.
Outcome updateOnce(bool fast, bool noLogo, const QString& tamper, bool newFirmwareAnswers) {
    test::FlashRig rig;
    if (fast)
        rig.setFast();
    sim::SimUnit& unit = *rig.unit;
    personalise(unit);
    const QByteArray image = sim::sampleFirmwareImage(307, 4000);
    rig.prompts.files << rig.writeFile("fw.bin", image);
    rig.prompts.answers << false << false; // no further wait, no re-flash
    rig.runner.effect = [&] {
        monitorOf(unit).program(newFirmwareAnswers ? image : QByteArray(), newFirmwareAnswers);
        unit.powerCycle(rig.port->nowMs());
    };
    FirmwareUpdate update(rig.ctx, rig.runner);
    update.backupFolder = rig.dir.filePath("backups");
    update.noLogo = noLogo;
    update.clickButton();
    bool tampered = false;
    rig.run(update, [&] {
        if (tamper == "dropWrite" && update.state() == FirmwareUpdate::State::WritingRegisters &&
            !tampered) {
            rig.port->dropNextReply();
            tampered = true;
        }
        return update.finished();
    });
    Outcome o;
    o.state = update.state();
    o.stepText = update.stepText();
    o.messages = rig.prompts.messages;
    o.asked = rig.prompts.asked;
    for (const QString& f : unit.frameHistory())
        if (f != QLatin1String(":S#"))
            o.frames << f;
    for (int r = 0; r < 256; ++r) {
        o.regs[size_t(r)] = unit.reg(r);
        o.burnt[size_t(r)] = unit.nonvolatileReg(r);
    }
    for (int w = 0; w < 128; ++w)
        o.logo[size_t(w)] = unit.logo(w);
    o.firmware = unit.profile().firmwareVersion;
    o.unconfirmed = update.unconfirmed();
    // The backup's name carries the time of the run; the rest must agree.
    static const QRegularExpression stamp(QStringLiteral("-\\d{8}-\\d{6}"));
    o.stepText.replace(stamp, QString());
    for (QString& m : o.messages)
        m.replace(stamp, QString());
    o.messages.replaceInStrings(rig.dir.path(), QStringLiteral("DIR"));
    o.stepText.replace(rig.dir.path(), QStringLiteral("DIR"));
    return o;
}
} // namespace
Q_DECLARE_METATYPE(Tool)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(UpdateState)

class TestFirmwareUpdate : public QObject {
    Q_OBJECT
    // The fault matrix, one line a case, printed when the test ends.
    QStringList matrix_;
  private slots:
    // Every row runs paced by the tick and with the fast link: the same
    // questions, messages, results and unit contents in both.
    void runs_data() {
        QTest::addColumn<Tool>("tool");
        QTest::addColumn<bool>("monitorAnswers");
        QTest::addColumn<QString>("answers"); // Y/N for the questions, in order
        QTest::addColumn<bool>("noLogo");
        QTest::addColumn<QString>("tamper"); // "", "reg1", "dropWrite", "silentWrites"
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("expectText"); // in the step text or a message
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("image"); // ok, oversize, empty, missing
        QTest::addColumn<bool>("entersBootLoader");
        QTest::addColumn<bool>("fast");

        struct Row {
            const char* name;
            Tool tool;
            bool monitorAnswers;
            const char* answers;
            bool noLogo;
            const char* tamper;
            bool succeeds;
            const char* expectText;
            int questions;
            const char* image;
            bool entersBootLoader;
        };
        const Row rows[] = {
            {"success restores settings and logo", Tool::Flashes, true, "", false, "", true,
             "Update Complete", 0, "ok", true},
            {"no logo write leaves the erased logo", Tool::Flashes, true, "", true, "", true,
             "Update Complete", 0, "ok", true},
            {"tool exits non-zero: names the backup and the way back", Tool::ExitsNonZero, true, "",
             false, "", false, "exit code 2", 0, "ok", true},
            {"tool missing: refused before the boot loader, names the package", Tool::Missing, true,
             "", false, "", false, "bossa-cli", 0, "ok", false},
            {"oversize image refused before the boot loader", Tool::Flashes, true, "", false, "",
             false, "more than the 131072 bytes", 0, "oversize", false},
            {"empty image refused before the boot loader", Tool::Flashes, true, "", false, "",
             false, "is empty", 0, "empty", false},
            {"unreadable image refused before the boot loader", Tool::Flashes, true, "", false, "",
             false, "cannot be read", 0, "missing", false},
            {"no monitor answer, wait once more, then give up", Tool::Flashes, false, "YN", false,
             "", false, "Firmware Update Failed", 2, "ok", true},
            {"new firmware never answers, no re-flash", Tool::FlashesNothing, true, "NN", false, "",
             false, "Firmware Update Failed", 2, "ok", true},
            {"register 01 read back differs", Tool::Flashes, true, "", false, "reg1", false,
             "Firmware Update Failed", 0, "ok", true},
            {"a lost write-back reply: the write is sent again", Tool::Flashes, true, "", false,
             "dropWrite", true, "Update Complete", 0, "ok", true},
            {"write-back never confirmed is named", Tool::Flashes, true, "", false, "silentWrites",
             true, "not confirmed", 0, "ok", true},
        };
        for (bool fast : {false, true}) {
            for (const Row& r : rows) {
                const QByteArray name =
                    QByteArray(r.name) + (fast ? " (fast link)" : " (tick-paced)");
                QTest::newRow(name.constData())
                    << r.tool << r.monitorAnswers << QString(r.answers) << r.noLogo
                    << QString(r.tamper) << r.succeeds << QString(r.expectText) << r.questions
                    << QString(r.image) << r.entersBootLoader << fast;
            }
        }
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
        QFETCH(bool, fast);

        test::FlashRig rig;
        if (fast)
            rig.setFast();
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
            if (tamper == "reg1" && update.state() == FirmwareUpdate::State::WaitingForReset) {
                unit.setReg(1, reg1 ^ 0x10);
                tampered = true;
            }
            if (tamper == "dropWrite" &&
                update.state() == FirmwareUpdate::State::WritingRegisters && !tampered) {
                rig.port->dropNextReply();
                tampered = true;
            }
            // Every acknowledgement of the write-back lost: the unit takes
            // the writes, the program never hears of it.
            if (tamper == "silentWrites")
                rig.port->setSilent(update.state() == FirmwareUpdate::State::WritingRegisters);
            return update.finished();
        }));

        const QString seen = update.stepText() + " | " + rig.prompts.messages.join(" | ");
        QVERIFY2(seen.contains(expectText), qPrintable(seen));
        QCOMPARE(rig.prompts.asked.size(), questions);
        QCOMPARE(update.succeeded(), succeeds);
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
            QCOMPARE(update.unconfirmed().isEmpty(), tamper != "silentWrites");
        }
        if (succeeds && tamper.isEmpty()) {
            QCOMPARE(update.stepText(), QString("Update Complete"));
            const QStringList words{"Reading settings", "Writing settings back", "Checking"};
            for (const QString& w : words)
                QVERIFY2(activities.contains(w), qPrintable(activities.join('|')));
            // The overall step only goes forward and ends at the last.
            QVERIFY(std::is_sorted(steps.begin() + 1, steps.end()));
            QCOMPARE(steps.last(), FirmwareUpdate::kStepCount);
            // The end names the firmware now running and the backup.
            QVERIFY2(update.activity().contains("firmware 3.07") && update.backup() &&
                         update.activity().contains(update.backup()->cfg),
                     qPrintable(update.activity()));
            QVERIFY2(activities.indexOf("Reading settings") < activities.indexOf("Checking"),
                     qPrintable(activities.join('|')));
            QVERIFY2(std::any_of(activities.begin(), activities.end(),
                                 [](const QString& a) { return a.startsWith("Flashing "); }),
                     qPrintable(activities.join('|')));
        }
    }

    // The fast link changes when frames leave, not which: the unit takes in
    // the same frames (status requests aside, which the waits now send) and
    // ends up holding the same settings, logo and firmware; the engineer
    // reads the same texts.
    void fastLinkRunMatchesTheTickPacedRun_data() {
        QTest::addColumn<bool>("noLogo");
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("newFirmwareAnswers");
        QTest::newRow("success") << false << "" << true;
        QTest::newRow("no logo write") << true << "" << true;
        QTest::newRow("unanswered register write") << false << "dropWrite" << true;
        QTest::newRow("new firmware never answers") << false << "" << false;
    }
    void fastLinkRunMatchesTheTickPacedRun() {
        QFETCH(bool, noLogo);
        QFETCH(QString, tamper);
        QFETCH(bool, newFirmwareAnswers);
        const Outcome tick = updateOnce(false, noLogo, tamper, newFirmwareAnswers);
        const Outcome fast = updateOnce(true, noLogo, tamper, newFirmwareAnswers);
        QCOMPARE(fast.state, tick.state);
        QCOMPARE(tick.state, newFirmwareAnswers ? FirmwareUpdate::State::Complete
                                                : FirmwareUpdate::State::Idle);
        QCOMPARE(fast.stepText, tick.stepText);
        QCOMPARE(fast.messages, tick.messages);
        QCOMPARE(fast.asked, tick.asked);
        QCOMPARE(fast.unconfirmed, tick.unconfirmed);
        QCOMPARE(fast.frames.size(), tick.frames.size());
        for (qsizetype i = 0; i < tick.frames.size(); ++i)
            QVERIFY2(fast.frames[i] == tick.frames[i],
                     qPrintable(
                         QString("frame %1: %2 / %3").arg(i).arg(fast.frames[i], tick.frames[i])));
        QVERIFY(fast.regs == tick.regs);
        QVERIFY(fast.burnt == tick.burnt);
        QVERIFY(fast.logo == tick.logo);
        QCOMPARE(fast.firmware, tick.firmware);
    }

    // With the fast link the wait for the unit's reset ends when the unit
    // answers again, at most after the fixed six seconds; the read-back of
    // register 01 goes to the unit that is back from its reset, never to
    // one still starting up, whatever reply came meanwhile.
    void fastLinkResetWaitEndsAtTheUnitsAnswer_data() {
        QTest::addColumn<QString>("fault"); // "", "lateAck", "silent"
        QTest::addColumn<double>("resetSilenceMs");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<bool>("waitsTheFixedTime");
        QTest::newRow("unit back from its reset") << "" << 1500.0 << true << false;
        QTest::newRow("late acknowledgement of the burn arrives during the wait")
            << "lateAck" << 4000.0 << true << false;
        QTest::newRow("unit silent after its reset: fixed wait, then the read-back fails")
            << "silent" << 1500.0 << false << true;
    }
    void fastLinkResetWaitEndsAtTheUnitsAnswer() {
        QFETCH(QString, fault);
        QFETCH(double, resetSilenceMs);
        QFETCH(bool, succeeds);
        QFETCH(bool, waitsTheFixedTime);
        sim::SimProfile profile;
        profile.resetSilenceMs = resetSilenceMs;
        test::FlashRig rig(profile);
        rig.setFast();
        sim::SimUnit& unit = *rig.unit;
        personalise(unit);
        const QByteArray image = sim::sampleFirmwareImage(307, 4000);
        rig.prompts.files << rig.writeFile("fw.bin", image);
        rig.runner.effect = [&] {
            monitorOf(unit).program(image, true);
            unit.powerCycle(rig.port->nowMs());
        };
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        bool armed = false;
        double resetSentMs = -1;
        double readBackSentMs = -1;
        bool unitStartingAtReadBack = false;
        QVERIFY(rig.run(update, [&] {
            const double now = rig.port->nowMs();
            // The acknowledgement of ":SP#" (a status reply) held back
            // until the unit is starting up after ":SR#".
            if (fault == "lateAck" && update.state() == FirmwareUpdate::State::Burning &&
                !rig.link.busy() && !armed) {
                rig.port->delayNextReply(7000);
                armed = true;
            }
            if (update.state() == FirmwareUpdate::State::WaitingForReset && resetSentMs < 0) {
                resetSentMs = now;
                if (fault == "silent")
                    rig.port->setSilent(true);
            }
            if (update.state() == FirmwareUpdate::State::CheckingRegister01 && readBackSentMs < 0) {
                readBackSentMs = now;
                unitStartingAtReadBack = unit.isStartingUp(now);
            }
            return update.finished();
        }));
        QVERIFY(update.fastRun() || update.state() == FirmwareUpdate::State::Idle);
        const QString seen = update.stepText() + " | " + rig.prompts.messages.join(" | ");
        QVERIFY2(update.succeeded() == succeeds && update.finished(), qPrintable(seen));
        if (succeeds) {
            QCOMPARE(update.stepText(), QString("Update Complete"));
            QCOMPARE(unit.reg(0x25), 0x1025);
        } else {
            QVERIFY2(seen.contains("did not answer the read-back of register 01"),
                     qPrintable(seen));
        }
        QVERIFY(resetSentMs >= 0 && readBackSentMs >= 0);
        QVERIFY(!unitStartingAtReadBack);
        // Virtual time: whether the wait ran out or the unit ended it.
        QCOMPARE(readBackSentMs - resetSentMs >= 6000 - FirmwareUpdate::kFastIntervalMs,
                 waitsTheFixedTime);
    }

    // Each fault at each step of the guided update it can meet. Whatever
    // happens, the unit ends on its old or its new firmware, or in its boot
    // loader with a message that names the backup; the engineer then
    // follows that way back (power cycle, flash again, restore the backup
    // the message names) and finds every register and the logo as before.
    void everyFaultAtEveryStepIsRecovered_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<UpdateState>("at");
        const UpdateState everyStep[] = {UpdateState::ReadingUniqueId,
                                         UpdateState::ReadingRegisters,
                                         UpdateState::ReadingLogo,
                                         UpdateState::EnteringBootLoader,
                                         UpdateState::ProbingBootMonitor,
                                         UpdateState::Flashing,
                                         UpdateState::WaitingForFirmware,
                                         UpdateState::WritingRegisters,
                                         UpdateState::Burning,
                                         UpdateState::WaitingForReset,
                                         UpdateState::CheckingRegister01};
        for (Fault f : {Fault::Cancel, Fault::PowerCut})
            for (UpdateState at : everyStep)
                QTest::newRow(qPrintable(QStringLiteral("%1 at %2")
                                             .arg(f == Fault::Cancel ? "cancel" : "power cut")
                                             .arg(int(at))))
                    << f << at;
        const std::pair<const char*, Fault> toolFaults[] = {
            {"tool killed", Fault::ToolKilled},
            {"tool exits non-zero", Fault::ToolExitsNonZero},
            {"tool hangs, stopped", Fault::ToolHangs},
            {"port vanishes mid-flash", Fault::PortVanishes},
            {"unit silent after flashing", Fault::SilentAfterFlash}};
        for (const auto& [name, f] : toolFaults)
            QTest::newRow(name) << f << UpdateState::Flashing;
        QTest::newRow("tool missing") << Fault::ToolMissing << UpdateState::CheckingTool;
    }
    void everyFaultAtEveryStepIsRecovered() {
        QFETCH(Fault, fault);
        QFETCH(UpdateState, at);
        test::FlashRig rig;
        sim::SimUnit& unit = *rig.unit;
        personalise(unit);
        // Burnt, as a unit in service holds them: a power cut keeps them.
        for (int r = 0x22; r < 0x30; ++r)
            unit.setNonvolatileReg(r, unit.reg(r));
        std::array<int32_t, 256> regs{};
        std::array<int32_t, 128> logo{};
        for (int r = 0; r < 256; ++r)
            regs[size_t(r)] = unit.reg(r);
        for (int w = 0; w < 128; ++w)
            logo[size_t(w)] = unit.logo(w);
        const QByteArray image = sim::sampleFirmwareImage(307, 4000);
        rig.prompts.files << rig.writeFile("fw.bin", image);
        // No further waits, no re-flash: the run ends rather than asks on.
        for (int i = 0; i < 6; ++i)
            rig.prompts.answers << false;
        rig.runner.failToStart = fault == Fault::ToolMissing;
        rig.runner.hang = fault == Fault::ToolHangs;
        const bool toolFault = at == UpdateState::Flashing && fault != Fault::Cancel;
        rig.runner.exitCode = toolFault && fault != Fault::SilentAfterFlash ? 1 : 0;
        rig.runner.onStart = [&] {
            if (at == UpdateState::Flashing)
                monitorOf(unit).program(image, false, image.size() / 2); // erased, half written
        };
        rig.runner.effect = [&] {
            if (toolFault && fault != Fault::SilentAfterFlash)
                return;
            monitorOf(unit).program(fault == Fault::SilentAfterFlash ? QByteArray() : image,
                                    fault != Fault::SilentAfterFlash);
            unit.powerCycle(rig.port->nowMs());
        };
        FirmwareUpdate update(rig.ctx, rig.runner);
        update.backupFolder = rig.dir.filePath("backups");
        update.clickButton();
        bool injected = false;
        QString closeQuestion; // what the window asks before it closes mid-run
        QVERIFY(rig.run(update, [&] {
            // At the flashing step: while the tool runs.
            if (!injected && update.state() == at &&
                (at != UpdateState::Flashing || update.toolRunning())) {
                injected = true;
                if (fault == Fault::Cancel) {
                    if (update.unitInBootLoader())
                        closeQuestion = flash::wayBackText(update.backup());
                    update.abandon();
                } else if (fault == Fault::PowerCut) {
                    unit.powerCycle(rig.port->nowMs());
                } else if (fault == Fault::ToolKilled) {
                    rig.runner.kill();
                } else if (fault == Fault::ToolHangs) {
                    update.stopTool();
                } else if (fault == Fault::PortVanishes) {
                    rig.port->unplug();
                }
            }
            return update.finished() && (injected || fault == Fault::ToolMissing);
        }));
        const QString told =
            rig.prompts.messages.join(" | ") + " | " + update.stepText() + " | " + closeQuestion;
        const bool leftInBootLoader = unit.mode() == sim::SimUnit::Mode::BootMonitor;

        // The way back, as the engineer reads it: the adapter back in,
        // a power cycle, the image flashed again while the unit stays in
        // its boot loader, then the backup the message names restored.
        rig.port->replug();
        if (!rig.link.serial.isOpen())
            rig.link.serial.backToUnit();
        unit.powerCycle(rig.port->nowMs());
        if (unit.mode() == sim::SimUnit::Mode::BootMonitor) {
            monitorOf(unit).program(image, true);
            unit.powerCycle(rig.port->nowMs());
        }
        rig.port->advance(2000);
        const auto same = [&] {
            for (int r = 0; r < 256; ++r)
                if (unit.reg(r) != regs[size_t(r)] || unit.nonvolatileReg(r) != regs[size_t(r)])
                    return false;
            for (int w = 0; w < 128; ++w)
                if (unit.logo(w) != logo[size_t(w)])
                    return false;
            return true;
        };
        const bool lostSettings = !same();
        const bool namesBackup = update.backup() && told.contains(update.backup()->cfg);
        if (lostSettings && namesBackup) {
            BackupRestore restore(rig.link);
            QCOMPARE(restore.start(update.backup()->cfg, update.backup()->lgo), QString());
            QVERIFY(rig.run(restore, [&] { return restore.finished(); }));
        }
        const bool recovered =
            unit.mode() == sim::SimUnit::Mode::Protocol &&
            (unit.profile().firmwareVersion == 307 ||
             unit.profile().firmwareVersion == sim::SimProfile().firmwareVersion);
        const bool restored = same();
        matrix_ << QStringLiteral("%1 | %2 | %3 | %4 | %5")
                       .arg(QString::fromLatin1(QTest::currentDataTag()), -32)
                       .arg(recovered ? "recovered" : "NOT RECOVERED")
                       .arg(restored ? "settings as before" : "SETTINGS LOST", -18)
                       .arg(lostSettings || leftInBootLoader
                                ? (namesBackup ? "backup named" : "BACKUP NOT NAMED")
                                : "nothing to restore")
                       .arg(unit.profile().firmwareVersion == 307 ? "new firmware"
                                                                  : "old firmware");
        QVERIFY2(recovered, qPrintable(told));
        QVERIFY2(restored, qPrintable(told));
        if (leftInBootLoader)
            QVERIFY2(namesBackup, qPrintable(told));
        // Every way out leaves the link usable.
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(!rig.link.serial.BootProbe);
    }
    void cleanupTestCase() {
        if (matrix_.isEmpty())
            return;
        qInfo().noquote() << "Fault matrix (case | unit | settings | backup | firmware):\n" +
                                 matrix_.join('\n');
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
        QVERIFY(rig.run(update, [&] { return update.state() == FirmwareUpdate::State::Idle; }));
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
        QVERIFY(rig.run(
            update, [&] { return update.state() == FirmwareUpdate::State::ProbingBootMonitor; }));
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
        QVERIFY(rig.run(update, [&] { return update.state() == FirmwareUpdate::State::Idle; }));
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
        QVERIFY(rig.run(update, [&] { return update.state() == FirmwareUpdate::State::Idle; }));
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
        QVERIFY(rig.run(update, [&] { return update.finished(); }));
        QVERIFY2(update.succeeded(),
                 qPrintable(update.stepText() + " | " + rig.prompts.messages.join(" | ")));
        QCOMPARE(rig.prompts.asked.size(), 1);
        QVERIFY(rig.prompts.asked.first().contains(first.cfg));
        QCOMPARE(update.backup()->cfg, first.cfg); // no new backup of an erased unit
        QCOMPARE(unit.actionCount("AMBA"), 1);
        QCOMPARE(unit.reg(0x25), reg25);
        QCOMPARE(unit.logo(3), logo3);
        QCOMPARE(unit.profile().firmwareVersion, 307);
    }

    // A restore's register write whose reply was lost is sent again, twice
    // at most; one never confirmed is named.
    void restoreSendsALostWriteAgain_data() {
        QTest::addColumn<int>("drops"); // replies to the write of register 25 lost
        QTest::addColumn<int>("resent");
        QTest::addColumn<bool>("complete");
        QTest::newRow("lost once: sent again") << 1 << 1 << true;
        QTest::newRow("lost twice: sent again twice") << 2 << 2 << true;
        QTest::newRow("never answered: named") << 3 << 2 << false;
    }
    void restoreSendsALostWriteAgain() {
        QFETCH(int, drops);
        QFETCH(int, resent);
        QFETCH(bool, complete);
        test::FlashRig rig;
        personalise(*rig.unit);
        rig.unit->powerCycle(0);
        rig.port->advance(2000);
        for (int i = 0; i < 4; ++i)
            rig.link.state.IdentStrings[size_t(i)] =
                QString::number(rig.unit->profile().uniqueId[size_t(i)], 16)
                    .rightJustified(8, '0')
                    .toUpper();
        for (int r = 0; r < 256; ++r)
            rig.link.state.setRegister(r, rig.unit->reg(r) ^ (r >= 0x22 ? 0x100 : 0),
                                       ValueSource::Unit);
        const auto b = flash::writeBackup(rig.link.state, rig.dir.filePath("b"),
                                          QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
        QVERIFY2(b, qPrintable(b.error()));
        BackupRestore restore(rig.link);
        QCOMPARE(restore.start(b->cfg, b->lgo), QString());
        // Frames: 6 identity reads, then 255 writes from register 01; each
        // round of writes again holds register 25 alone.
        rig.port->dropReplyToFrame(6 + 0x25);
        for (int i = 1; i < drops; ++i)
            rig.port->dropReplyToFrame(6 + 255 + i);
        QVERIFY(rig.run(restore, [&] { return restore.finished(); }));
        QCOMPARE(restore.report().resent, resent);
        QCOMPARE(restore.succeeded(), complete);
        QCOMPARE(restore.report().unconfirmed, complete ? QList<int>{} : QList<int>{0x25});
        // Written in any case: only its acknowledgement was lost.
        QCOMPARE(rig.unit->reg(0x25), rig.link.state.RegCache[0x25]);
        QVERIFY2(restore.stepText().contains("sent again"), qPrintable(restore.stepText()));
    }

    void restoreRefusesABackupOfAnotherUnit() {
        test::FlashRig rig;
        rig.link.state.IdentStrings = {"00000001", "00000002", "00000003", "00000004", ""};
        const auto b = flash::writeBackup(rig.link.state, rig.dir.filePath("b"),
                                          QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
        QVERIFY2(b, qPrintable(b.error()));
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
            if (update.state() == FirmwareUpdate::State::ProbingBootMonitor &&
                monitorOf(unit).waitingForPowerCycle() &&
                update.stepText() == "Power cycle the device." && ++probeTicks == 100)
                unit.powerCycle(rig.port->nowMs()); // the engineer does as asked
            return update.finished();
        }));
        QCOMPARE(probeTicks, 100); // it waited, asking, until the power cycle
        QVERIFY2(update.succeeded(),
                 qPrintable(update.stepText() + " | " + rig.prompts.messages.join(" | ")));
        QCOMPARE(unit.profile().firmwareVersion, 307);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareUpdate)
#include "test_firmware_update.moc"
