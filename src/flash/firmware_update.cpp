#include "flash/firmware_update.h"

#include "app/app_context.h"
#include "config/bulk_transfer.h"
#include "config/logo_transfer.h"
#include "flash/bossac.h"
#include "link/codec.h"
#include "platform/process_runner.h"

#include <QRegularExpression>

namespace gp {

namespace {
constexpr char kFirmwareFilter[] = "Sensor Firmware{*.bin)|*.bin";
constexpr char kMonitorSettings[] = "115200,n,8,1";
// More than this many probe ticks without the monitor's answer: ask.
constexpr int kProbeTicks = 50;
// Ticks of 1 s for the new firmware and for the read-back.
constexpr int kAnswerTicks = 10;
constexpr int kResetTicks = 6;
constexpr int kPauseTicks = 5;
} // namespace

FirmwareUpdate::FirmwareUpdate(AppContext& ctx, ProcessRunner& runner)
    : ctx_(ctx), tool_(ctx.link, runner) {
    stepText_ = text(7008, "Press \"start\" to begin.");
    caption_ = text(7001, "Start");
    tool_.onLine = [this](const QString& line) {
        // The tool draws its progress as "[====   ] 45% (120/256 pages)".
        static const QRegularExpression percent(QStringLiteral("\\]\\s*(\\d{1,3})%"));
        const QRegularExpressionMatch m = percent.match(line);
        if (m.hasMatch())
            flashPercent_ = qBound(0, m.captured(1).toInt(), 100);
        if (onToolLine)
            onToolLine(line);
    };
}

FirmwareUpdate::~FirmwareUpdate() = default;

int FirmwareUpdate::stepNumber() const {
    switch (state_) {
    case 1:
    case 101:
    case 111:
    case 2:
        return 1;
    case 20:
        return 2;
    case 21:
    case 22:
        return 3;
    case 3:
    case 4:
        return 4;
    case 5:
        return 5;
    case 51:
    case 6:
        return 6;
    case 7:
    case 700:
    case 701:
    case 702:
    case 8:
    case 801:
        return 7;
    case 9:
    case 10:
    case 11:
    case -2:
        return 8;
    default:
        return 0;
    }
}

QString FirmwareUpdate::activity() const {
    switch (state_) {
    case 1:
    case 101:
    case 111:
    case 2:
        return QStringLiteral("Reading settings");
    case 20:
        return QStringLiteral("Choosing the firmware file");
    case 21:
    case 22:
        return QStringLiteral("Checking the flashing tool");
    case 3:
    case 4:
        return QStringLiteral("Entering the boot loader");
    case 5:
        return QStringLiteral("Flashing %1 %").arg(flashPercent_);
    case 51:
    case 6:
        return QStringLiteral("Waiting for the unit to start");
    case 7:
    case 700:
    case 701:
    case 702:
    case 8:
    case 801:
        return QStringLiteral("Writing settings back");
    case 9:
    case 10:
    case 11:
        return QStringLiteral("Checking");
    case -2:
        return QStringLiteral("Done");
    case -1:
        return QStringLiteral("Stopped");
    default:
        return QString();
    }
}

QString FirmwareUpdate::text(int id, const char* fallback) const {
    return ctx_.text(id, QString::fromUtf8(fallback));
}

bool FirmwareUpdate::toolRunning() const {
    // Only the run on the unit; the look at the tool's version is no flashing.
    return state_ == 5 && tool_.running();
}

bool FirmwareUpdate::clickButton() {
    if (caption_ == text(7001, "Start")) {
        state_ = 1;
        caption_ = text(7002, "Next");
        enabled_ = false;
        return false;
    }
    return state_ == -2;
}

void FirmwareUpdate::stopTool() {
    if (!tool_.running())
        return;
    stopRequested_ = true;
    tool_.kill();
}

void FirmwareUpdate::abandon() {
    if (tool_.running())
        stopRequested_ = true;
    tool_.abandon();
    restoreLink();
    state_ = 0;
    fast_ = false;
}

void FirmwareUpdate::restoreLink() {
    ctx_.link.serial.backToUnit();
}

void FirmwareUpdate::startProbe() {
    SerialLink& serial = ctx_.link.serial;
    serial.close();
    serial.BootFound = false;
    serial.BootProbe = true;
    ctx_.link.poll.CmdQueuePos = -1;
    if (serial.port()) {
        // Opening puts the unit's own line settings back; the monitor's
        // speed goes on afterwards.
        serial.choosePort(serial.port()->name());
        serial.port()->setSettings(QString::fromLatin1(kMonitorSettings));
    }
    tickCount_ = 0;
}

void FirmwareUpdate::oneFrame(const QString& frame) {
    ctx_.link.startBatch({frame}, 0, 0, false);
}

void FirmwareUpdate::fail(const QString& boxText) {
    ctx_.prompts.message(text(7000, "Firmware Update"), boxText);
    go(-1);
}

void FirmwareUpdate::noteLost(const QString& what) {
    for (const QString& frame : ctx_.link.poll.stats().lostFrames)
        unconfirmed_ << what + u' ' + frame.mid(2, 2);
}

void FirmwareUpdate::startTool() {
    SerialLink& serial = ctx_.link.serial;
    const QString port = serial.port() ? serial.port()->name() : QString();
    const QStringList args = flash::guidedUpdateArguments(port, firmwarePath_);
    ctx_.link.AddLog(QLatin1String(flash::kBossacProgram) + u' ' + args.join(u' '));
    ctx_.link.SetProgress(0, 0);
    stopRequested_ = false;
    tool_.start(QString::fromLatin1(flash::kBossacProgram), args);
}

int FirmwareUpdate::pauseTicks() const {
    // The countdown reaches 0 after kPauseTicks ticks and the machine moves
    // on one tick later: kPauseTicks + 1 seconds at 1 s a tick, the same
    // time in poll periods with the fast link.
    return ticksFor(kPauseTicks + 1, 1000) - 1;
}

void FirmwareUpdate::beginAnsweredWait(int limitTicks) {
    waitLimitTicks_ = limitTicks;
    waitPollBatch_ = 0;
    waitAnswersInRow_ = 0;
    tickCount_ = 0;
}

bool FirmwareUpdate::answeredWaitOver() {
    if (tickCount_ >= waitLimitTicks_)
        return true; // the fixed time, as without the fast link
    Link& link = ctx_.link;
    if (link.busy())
        return false; // a frame in flight: the frame before the wait, or a poll
    // The batch of the poll ends answered only on a reply that answers the
    // frame in flight; a batch of someone else's is not the unit's answer.
    if (waitPollBatch_ != 0 && link.poll.stats().id == waitPollBatch_) {
        if (link.poll.CmdQueuePos == -1) {
            if (++waitAnswersInRow_ >= 2)
                return true;
        } else {
            waitAnswersInRow_ = 0;
        }
    }
    waitPollBatch_ = link.startBatch({BuildStatus()}, 0, 0, false);
    return false;
}

void FirmwareUpdate::failUntouched(const QString& why) {
    fail(text(10000, "Firmware Update Failed") + QStringLiteral("\n\n") + why +
         (inBootLoader_ ? u' ' + flash::wayBackText(backup_)
                        : QStringLiteral(" Nothing was sent to the unit; it runs its firmware "
                                         "as before.")));
}

void FirmwareUpdate::failInBootLoader(const QString& why, bool asMessage) {
    const QString all = text(10000, "Firmware Update Failed") +
                        (why.isEmpty() ? QString() : QStringLiteral("\n\n") + why) +
                        QStringLiteral("\n\n") + flash::wayBackText(backup_);
    if (asMessage) {
        ctx_.prompts.message(text(7000, "Firmware Update"), all, MessageKind::Error);
        restoreLink();
    } else {
        stepText_ = all;
    }
    go(-1);
}

// The unit did not answer the first read. It may sit in its boot loader after
// a run that did not end: then its newest backup carries the settings.
void FirmwareUpdate::readFailed() {
    const QString failed = text(10000, "Firmware Update Failed");
    const auto found =
        offeredBackup ? offeredBackup : flash::newestBackup(backupFolder, previousUid_);
    if (!found) {
        fail(failed + QStringLiteral("\n\nThe unit does not answer."));
        return;
    }
    const QString question =
        QStringLiteral("The unit does not answer. It may still be in its boot loader after an "
                       "update that did not end.\n\nThe backup of this unit (%1) is "
                       "%2.\n\nFlash the firmware again and then write this backup's settings "
                       "and logo back?")
            .arg(previousUid_.isEmpty() ? QStringLiteral("unique id not read") : previousUid_,
                 found->cfg);
    if (!ctx_.prompts.askYesNo(text(7000, "Firmware Update"), question, false, false)) {
        fail(failed);
        return;
    }
    const flash::BackupContent content = flash::readBackup(found->cfg, found->lgo);
    if (!content.ok()) {
        fail(failed + QStringLiteral("\n\n") + content.error);
        return;
    }
    Link& link = ctx_.link;
    savedRegs_ = content.registers;
    savedReg1_ = savedRegs_[1];
    backupHasLogo_ = content.logo.has_value();
    if (content.logo)
        std::copy(content.logo->begin(), content.logo->end(), link.state.LRegCache.begin());
    link.state.IdentU05 = previousChip_;
    backup_ = found;
    resumed_ = true;
    inBootLoader_ = true;
    go(20);
}

void FirmwareUpdate::tick() {
    if (tickCount_ < 32767)
        ++tickCount_;
    Link& link = ctx_.link;
    SerialLink& serial = link.serial;
    const int pos = link.poll.CmdQueuePos;
    const bool answered = pos == -1;
    const bool timedOut = pos < -1;
    const bool ended = answered || timedOut;
    const QString failed = text(10000, "Firmware Update Failed");

    switch (state_) {
    case 0:
        break;
    case 1: {
        fast_ = link.fast();
        stepText_ = text(7003, "Reading Current Settings....");
        unconfirmed_.clear();
        backup_.reset();
        toolVersion_.clear();
        inBootLoader_ = false;
        resumed_ = false;
        backupHasLogo_ = true;
        // What the program knew of the unit before; a unit that no longer
        // answers keeps these in the caches.
        previousUid_ = flash::uniqueIdOf(link.state);
        previousChip_ = link.state.IdentU05;
        // The unique id names the backup.
        QStringList frames;
        for (int i = 0; i < 4; ++i)
            frames << BuildItemRead(u'U', i);
        link.startBatch(frames);
        go(101);
        break;
    }
    case 101:
        if (answered) {
            link.state.IdentU05 = 0;
            ReadAllRegisters(link);
            go(111);
        } else if (timedOut) {
            readFailed();
        }
        break;
    case 111:
        if (answered) {
            ReadLogo(link);
            go(2);
        } else if (timedOut) {
            fail(failed);
        }
        break;
    case 2:
        if (answered) {
            savedRegs_ = link.state.RegCache;
            savedReg1_ = link.state.RegCache[1];
            go(20);
        } else if (timedOut) {
            fail(failed);
        }
        break;
    case 20: {
        // The image is chosen and checked while the unit still runs its
        // firmware: a wrong file must not cost it its settings.
        const QString path =
            ctx_.prompts.openFile(text(7000, "Firmware Update"), QLatin1String(kFirmwareFilter));
        if (path.isEmpty()) {
            if (!ctx_.prompts.askYesNo(
                    text(7000, "Firmware Update"),
                    QStringLiteral("No firmware file was chosen. Choose a file?"), false, false)) {
                if (inBootLoader_)
                    failInBootLoader(QString(), false);
                else
                    failUntouched(QStringLiteral("No firmware file was chosen."));
            }
            break;
        }
        firmwarePath_ = path;
        const QString bad = flash::checkFirmwareImage(path, link.state.IdentU05);
        if (!bad.isEmpty()) {
            failUntouched(bad);
            break;
        }
        go(21);
        break;
    }
    case 21:
        // Does the flashing tool start at all? Its help names its version.
        tool_.start(QString::fromLatin1(flash::kBossacProgram), {QStringLiteral("--help")}, true);
        go(22);
        break;
    case 22:
        switch (tool_.state()) {
        case flash::ToolRun::State::Idle:
        case flash::ToolRun::State::Running:
            break;
        case flash::ToolRun::State::NotStarted:
            tool_.reset();
            failUntouched(flash::notStartedMessage(tool_.startError()));
            break;
        case flash::ToolRun::State::Done: {
            tool_.reset();
            toolVersion_ = flash::toolVersionFrom(tool_.lines());
            link.AddLog(
                QStringLiteral("Flashing tool: ") +
                (toolVersion_.isEmpty() ? QLatin1String(flash::kBossacProgram) : toolVersion_));
            if (resumed_) {
                stepText_ =
                    QStringLiteral("Flashing again; the settings come from %1").arg(backup_->cfg);
                go(3);
                break;
            }
            // The registers and the logo just read, on disk before the unit
            // leaves its firmware.
            DeviceState saved = link.state;
            saved.RegCache = savedRegs_;
            QString error;
            backup_ = flash::writeBackup(saved, backupFolder, now(), &error);
            if (!backup_) {
                failUntouched(QStringLiteral("The settings could not be saved: ") + error);
                break;
            }
            stepText_ = QStringLiteral("Settings and logo saved to %1 and %2")
                            .arg(backup_->cfg, backup_->lgo);
            link.AddLog(stepText_);
            link.SendMsg(BuildSystem(QStringLiteral("AMBA")));
            inBootLoader_ = true;
            go(3);
            break;
        }
        }
        break;
    case 3:
        link.state.IdentU05 &= ~0x1F;
        if (link.state.IdentU05 == kSam3n2bChipId)
            stepText_ = text(10001, "Power cycle the device.");
        startProbe();
        go(4);
        break;
    case 4:
        if (serial.BootFound) {
            serial.BootFound = false;
            serial.BootProbe = false;
            serial.close();
            stepText_ = text(7004, "Flashing Device....");
            go(5);
        } else if (tickCount_ > ticksFor(kProbeTicks, 200)) {
            if (ctx_.prompts.askYesNo(QString(),
                                      QStringLiteral("Device not detected, continue to wait?"),
                                      false, false)) {
                tickCount_ = 0;
                if (link.poll.CmdQueuePos < 0) {
                    serial.BootFound = false;
                    oneFrame(BuildBootProbe());
                }
            } else {
                failInBootLoader(QStringLiteral("The boot loader did not answer."), true);
            }
        } else if (pos < 0) {
            serial.BootFound = false;
            oneFrame(BuildBootProbe());
        }
        break;
    case 5:
        switch (tool_.state()) {
        case flash::ToolRun::State::Idle:
            if (serial.isOpen())
                serial.close();
            else
                startTool();
            break;
        case flash::ToolRun::State::Running:
            break; // the tool has no time-out of its own; the window offers to stop it
        case flash::ToolRun::State::NotStarted:
            tool_.reset();
            failInBootLoader(flash::notStartedMessage(tool_.startError()), true);
            break;
        case flash::ToolRun::State::Done:
            tool_.reset();
            if (tool_.exitCode() == 0 && !stopRequested_) {
                go(51);
                break;
            }
            failInBootLoader(stopRequested_
                                 ? QStringLiteral("The flashing tool was stopped.")
                                 : QStringLiteral("The flashing tool ended with exit code %1.")
                                       .arg(tool_.exitCode()),
                             true);
            break;
        }
        break;
    case 51:
        stepText_ = text(10001, "Power cycle the device.");
        go(6);
        break;
    case 6:
        if (!serial.isOpen()) {
            restoreLink();
        } else {
            oneFrame(BuildStatus());
            if (makeTopMost)
                makeTopMost();
            intervalMs_ = 1000;
            tickCount_ = 0;
            go(7);
        }
        break;
    case 7:
        if (answered) {
            stepText_ = text(7005, "Writing Settings....");
            intervalMs_ = 5000;
            // The new firmware answered; the pause before the settings go
            // back ends when it answers again.
            if (fast_)
                beginAnsweredWait(ticksFor(5, 1000));
            go(700);
        } else if (tickCount_ >= ticksFor(kAnswerTicks, 1000)) {
            if (ctx_.prompts.askYesNo(QString(),
                                      QStringLiteral("Device not detected - continue to wait?"),
                                      false, false)) {
                tickCount_ = 0;
                if (link.poll.CmdQueuePos < 0)
                    oneFrame(BuildStatus());
            } else if (ctx_.prompts.askYesNo(QString(), QStringLiteral("Try to re-flash device??"),
                                             false, false)) {
                startProbe();
                go(4);
            } else {
                failInBootLoader(QStringLiteral("The new firmware did not answer."), false);
            }
        } else if (pos < 0) {
            oneFrame(BuildStatus());
        }
        break;
    case 700:
        if (fast_ && !answeredWaitOver())
            break;
        intervalMs_ = 1000;
        // The settings go back as the backup on disk holds them: every
        // register is known, whether this run read it or the backup came
        // from an earlier run, so the write sends them all.
        for (int r = 0; r < 256; ++r)
            link.state.setRegister(r, savedRegs_[size_t(r)], ValueSource::File);
        WriteAllRegisters(link);
        regBatchId_ = link.poll.stats().id;
        logoBatchId_ = 0;
        go(701);
        break;
    case 701:
        if (ended) {
            if (link.poll.stats().id == regBatchId_)
                noteLost(QStringLiteral("register"));
            if (noLogo || !backupHasLogo_) {
                countdown_ = 0;
            } else {
                WriteLogo(link);
                logoBatchId_ = link.poll.stats().id;
                // Nothing tells when the unit has stored the logo: the
                // pause keeps its length with the fast link too.
                countdown_ = pauseTicks();
            }
            go(702);
        }
        break;
    case 702:
        if (countdown_ == 0)
            go(8);
        else
            --countdown_;
        break;
    case 8:
        if (ended) {
            if (logoBatchId_ != 0 && link.poll.stats().id == logoBatchId_)
                noteLost(QStringLiteral("logo word"));
            link.SetProgress(0, 0);
            oneFrame(BuildSystem(QStringLiteral("P")));
            // Nor when the burn is done.
            countdown_ = pauseTicks();
            go(801);
        }
        break;
    case 801:
        if (countdown_ == 0)
            go(9);
        else
            --countdown_;
        break;
    case 9:
        if (ended) {
            tickCount_ = 0;
            link.SetProgress(0, 0);
            oneFrame(BuildSystem(QStringLiteral("R")));
            // The unit is back from its reset when it answers again.
            if (fast_)
                beginAnsweredWait(ticksFor(kResetTicks, 1000));
            go(10);
        }
        break;
    case 10:
        if (fast_ ? answeredWaitOver() : tickCount_ >= kResetTicks) {
            oneFrame(BuildRead(1));
            tickCount_ = 0;
            go(11);
        }
        break;
    case 11:
        if (answered) {
            if (link.state.RegCache[1] == savedReg1_) {
                stepText_ = text(7007, "Update Complete");
                if (!unconfirmed_.isEmpty()) {
                    // The check passed, but the unit did not confirm every
                    // write: say which, so that they can be written again.
                    QStringList shown = unconfirmed_.mid(0, 24);
                    if (unconfirmed_.size() > shown.size())
                        shown << QStringLiteral("and %1 more").arg(unconfirmed_.size() - 24);
                    stepText_ += QStringLiteral(", but these writes were not confirmed by the "
                                                "unit (write them again): ") +
                                 shown.join(QStringLiteral(", "));
                }
                enabled_ = true;
                caption_ = text(7009, "Exit");
                link.SetProgress(100, 0);
                go(-2);
            } else {
                failInBootLoader(QStringLiteral("Register 01 read back differs from the saved "
                                                "value."),
                                 false);
            }
        } else if (tickCount_ >= ticksFor(kAnswerTicks, 1000)) {
            failInBootLoader(QStringLiteral("The unit did not answer the read-back of register "
                                            "01."),
                             false);
        } else if (pos < 0) {
            oneFrame(BuildRead(1));
        }
        break;
    case -2:
        enabled_ = true;
        caption_ = text(7009, "Exit");
        fast_ = false; // the window waits for its close at the usual pace
        break;
    case -1:
        restoreLink();
        state_ = 0;
        intervalMs_ = 200;
        fast_ = false;
        enabled_ = true;
        caption_ = text(7001, "Start");
        break;
    default:
        go(-1);
        break;
    }
}

} // namespace gp
