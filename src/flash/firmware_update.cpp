#include "flash/firmware_update.h"
#include "unit/chips.h"

#include "app/app_context.h"
#include "flash/bossac.h"
#include "link/codec.h"
#include "platform/firmware_image.h"
#include "platform/process_runner.h"
#include "unit/bulk_transfer.h"
#include "unit/logo_transfer.h"
#include "unit/registers.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

namespace gp {

namespace {
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
        // The tool's own percentage is the whole pages written, rounded down.
        if (const auto done = flash::progressOf(line))
            flashPercent_ = qBound(0, static_cast<int>(std::floor(*done * 100.0 + 1e-9)), 100);
        if (onToolLine)
            onToolLine(line);
    };
}

FirmwareUpdate::~FirmwareUpdate() = default;

namespace {

using S = FirmwareUpdate::State;

// Each state's step of the run (1..kStepCount, 0 outside a run) and what
// the run does there, in words.
struct StepOf {
    S state;
    int step;
    const char* activity;
};
constexpr StepOf kSteps[] = {
    {S::Start, 1, "Reading settings"},
    {S::ReadingUniqueId, 1, "Reading settings"},
    {S::ReadingRegisters, 1, "Reading settings"},
    {S::ReadingLogo, 1, "Reading settings"},
    {S::ChoosingImage, 2, "Choosing the firmware file"},
    {S::StartingToolCheck, 3, "Checking the flashing tool"},
    {S::CheckingTool, 3, "Checking the flashing tool"},
    {S::EnteringBootLoader, 4, "Entering the boot loader"},
    {S::ProbingBootMonitor, 4, "Entering the boot loader"},
    {S::Flashing, 5, "Flashing %1 %"},
    {S::Flashed, 6, "Waiting for the unit to start"},
    {S::ReopeningPort, 6, "Waiting for the unit to start"},
    {S::WaitingForFirmware, 6, "Waiting for the unit to start"},
    {S::PausingBeforeWriteBack, 7, "Writing settings back"},
    {S::WritingRegisters, 7, "Writing settings back"},
    {S::PausingAfterLogo, 7, "Writing settings back"},
    {S::Burning, 7, "Writing settings back"},
    {S::PausingAfterBurn, 7, "Writing settings back"},
    {S::Resetting, 8, "Checking"},
    {S::WaitingForReset, 8, "Checking"},
    {S::CheckingRegister01, 8, "Checking"},
    {S::Complete, 8, "Done"},
    {S::Failed, 0, "Stopped"},
};

const StepOf* stepOf(S state) {
    for (const StepOf& s : kSteps)
        if (s.state == state)
            return &s;
    return nullptr;
}

} // namespace

int FirmwareUpdate::stepNumber() const {
    const StepOf* s = stepOf(state_);
    return s ? s->step : 0;
}

QString FirmwareUpdate::activity() const {
    const StepOf* s = stepOf(state_);
    if (!s)
        return QString();
    if (state_ == State::Complete && !doneSummary_.isEmpty())
        return doneSummary_;
    const QString words = QString::fromLatin1(s->activity);
    return state_ == State::Flashing ? words.arg(flashPercent_) : words;
}

QString FirmwareUpdate::text(int id, const char* fallback) const {
    return ctx_.text(id, QString::fromUtf8(fallback));
}

bool FirmwareUpdate::toolRunning() const {
    // Only the run on the unit; the look at the tool's version is no flashing.
    return state_ == State::Flashing && tool_.running();
}

bool FirmwareUpdate::clickButton() {
    if (caption_ == text(7001, "Start")) {
        state_ = State::Start;
        caption_ = text(7002, "Next");
        enabled_ = false;
        return false;
    }
    return state_ == State::Complete;
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
    state_ = State::Idle;
    fast_ = false;
}

void FirmwareUpdate::restoreLink() {
    ctx_.link.serial.backToUnit();
}

void FirmwareUpdate::startProbe() {
    ctx_.link.startBootProbe(QString::fromLatin1(flash::kMonitorSettings));
    tickCount_ = 0;
}

void FirmwareUpdate::sendBootProbe() {
    ctx_.link.serial.takeBootFound();
    oneFrame(BuildBootProbe());
}

void FirmwareUpdate::oneFrame(const QString& frame) {
    ctx_.link.startBatch({frame}, 0, 0, false);
}

void FirmwareUpdate::fail(const QString& boxText) {
    ctx_.prompts.message(text(7000, "Firmware Update"), boxText);
    go(State::Failed);
}

void FirmwareUpdate::noteLost(int batchId, const QString& what) {
    for (const QString& frame : ctx_.link.poll.outcome(batchId).lostFrames)
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
    if (const BatchOutcome o = link.poll.outcome(waitPollBatch_);
        waitPollBatch_ != 0 && !o.displaced) {
        if (o.finished && !o.lastReplyLost) {
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
    go(State::Failed);
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
    go(State::ChoosingImage);
}

void FirmwareUpdate::tick() {
    if (tickCount_ < 32767)
        ++tickCount_;
    const PollCycle& poll = ctx_.link.poll;
    const bool answered = poll.lastBatchAnswered();
    const bool timedOut = poll.lastBatchLostItsLastReply();
    const bool ended = answered || timedOut;

    switch (state_) {
    case State::Idle:
        break;
    case State::Start:
    case State::ReadingUniqueId:
    case State::ReadingRegisters:
    case State::ReadingLogo:
        tickReading(answered, timedOut);
        break;
    case State::ChoosingImage:
    case State::StartingToolCheck:
    case State::CheckingTool:
        tickChecks();
        break;
    case State::EnteringBootLoader:
    case State::ProbingBootMonitor:
        tickBootLoader();
        break;
    case State::Flashing:
    case State::Flashed:
    case State::ReopeningPort:
        tickFlashing();
        break;
    case State::WaitingForFirmware:
        tickWaitingForFirmware(answered);
        break;
    case State::PausingBeforeWriteBack:
    case State::WritingRegisters:
    case State::PausingAfterLogo:
    case State::Burning:
    case State::PausingAfterBurn:
        tickWriteBack(ended);
        break;
    case State::Resetting:
    case State::WaitingForReset:
    case State::CheckingRegister01:
        tickCheck(answered);
        break;
    case State::Complete:
        enabled_ = true;
        caption_ = text(7009, "Exit");
        fast_ = false; // the window waits for its close at the usual pace
        break;
    case State::Failed:
        restoreLink();
        state_ = State::Idle;
        intervalMs_ = 200;
        fast_ = false;
        enabled_ = true;
        caption_ = text(7001, "Start");
        break;
    }
}

void FirmwareUpdate::startRead(int batchId) {
    readBatch_ = batchId;
    readFrames_ = ctx_.link.poll.batchFrames();
    readRetries_ = 0;
}

// Whether the read in flight got every reply. The backup must hold what the
// unit holds: a read that lost replies on the way (a unit that restarted, a
// noisy line) reads the lost frames again, at most kRetries times; then
// the run fails before anything was sent. Identity item 05, which the file
// does not hold, may stay unanswered.
bool FirmwareUpdate::readGotEverything() {
    QStringList missing = ctx_.link.poll.outcome(readBatch_).missingFrames(readFrames_);
    missing.removeIf([](const QString& f) { return f == BuildItemRead(u'U', 5); });
    if (missing.isEmpty())
        return true;
    if (readRetries_ < kRetries) {
        ++readRetries_;
        readFrames_ = missing;
        readBatch_ = ctx_.link.startBatch(missing);
        return false;
    }
    failUntouched(QStringLiteral("The unit did not answer for: %1.").arg(missing.join(u' ')));
    return false;
}

// Reads the unique id (it names the backup), every register and the logo.
void FirmwareUpdate::tickReading(bool answered, bool timedOut) {
    Link& link = ctx_.link;
    switch (state_) {
    case State::Start: {
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
        QStringList frames;
        for (int i = 0; i < 4; ++i)
            frames << BuildItemRead(u'U', i);
        startRead(link.startBatch(frames));
        go(State::ReadingUniqueId);
        break;
    }
    case State::ReadingUniqueId:
        // A unit that answers nothing may sit in its boot loader.
        if (timedOut && link.poll.outcome(readBatch_).answered == 0 && readRetries_ == 0) {
            readFailed();
        } else if ((answered || timedOut) && readGotEverything()) {
            link.state.IdentU05 = 0;
            startRead(ReadAllRegisters(link));
            go(State::ReadingRegisters);
        }
        break;
    case State::ReadingRegisters:
        if ((answered || timedOut) && readGotEverything()) {
            startRead(ReadLogo(link));
            go(State::ReadingLogo);
        }
        break;
    case State::ReadingLogo:
        if ((answered || timedOut) && readGotEverything()) {
            savedRegs_ = link.state.RegCache;
            savedReg1_ = link.state.RegCache[1];
            go(State::ChoosingImage);
        }
        break;
    default:
        break;
    }
}

// The image is chosen and checked, and the flashing tool asked for its
// version, while the unit still runs its firmware: a wrong file or a missing
// tool must not cost it its settings.
void FirmwareUpdate::tickChecks() {
    if (state_ == State::StartingToolCheck) {
        // Does the flashing tool start at all? Its help names its version.
        tool_.start(QString::fromLatin1(flash::kBossacProgram), {QStringLiteral("--help")}, true);
        go(State::CheckingTool);
        return;
    }
    if (state_ == State::CheckingTool) {
        checkTool();
        return;
    }
    const QString path =
        ctx_.prompts.openFile(text(7000, "Firmware Update"), QLatin1String(flash::kFirmwareFilter));
    if (path.isEmpty()) {
        if (!ctx_.prompts.askYesNo(text(7000, "Firmware Update"),
                                   QStringLiteral("No firmware file was chosen. Choose a file?"),
                                   false, false)) {
            if (inBootLoader_)
                failInBootLoader(QString(), false);
            else
                failUntouched(QStringLiteral("No firmware file was chosen."));
        }
        return;
    }
    firmwarePath_ = path;
    if (const Status image = flash::checkFirmwareImage(path, ctx_.link.state.IdentU05); !image) {
        failUntouched(image.error());
        return;
    }
    // The version the unit will run, for the summary at the end.
    QFile image(path);
    imageVersion_ = image.open(QIODevice::ReadOnly) ? imageVersion(image.readAll()) : std::nullopt;
    go(State::StartingToolCheck);
}

void FirmwareUpdate::checkTool() {
    switch (tool_.state()) {
    case flash::ToolRun::State::Idle:
    case flash::ToolRun::State::Running:
        break;
    case flash::ToolRun::State::NotStarted:
        tool_.reset();
        failUntouched(flash::notStartedMessage(tool_.startError()));
        break;
    case flash::ToolRun::State::Done:
        tool_.reset();
        toolVersion_ = flash::toolVersionFrom(tool_.lines());
        ctx_.link.AddLog(
            QStringLiteral("Flashing tool: ") +
            (toolVersion_.isEmpty() ? QLatin1String(flash::kBossacProgram) : toolVersion_));
        if (resumed_) {
            stepText_ =
                QStringLiteral("Flashing again; the settings come from %1").arg(backup_->cfg);
            go(State::EnteringBootLoader);
            break;
        }
        saveBackupAndEnterBootLoader();
        break;
    }
}

// The registers and the logo just read go on disk before the unit leaves
// its firmware.
void FirmwareUpdate::saveBackupAndEnterBootLoader() {
    Link& link = ctx_.link;
    DeviceState saved = link.state;
    saved.RegCache = savedRegs_;
    const Result<flash::Backup> written = flash::writeBackup(saved, backupFolder, now());
    if (!written) {
        failUntouched(QStringLiteral("The settings could not be saved: ") + written.error());
        return;
    }
    backup_ = *written;
    stepText_ =
        QStringLiteral("Settings and logo saved to %1 and %2").arg(backup_->cfg, backup_->lgo);
    link.AddLog(stepText_);
    link.SendMsg(BuildSystem(QStringLiteral("AMBA")));
    inBootLoader_ = true;
    go(State::EnteringBootLoader);
}

// The unit left for its boot monitor: probe the line until the monitor
// answers, asking the engineer when it takes long.
void FirmwareUpdate::tickBootLoader() {
    Link& link = ctx_.link;
    if (state_ == State::EnteringBootLoader) {
        link.state.IdentU05 &= ~0x1F;
        if (unit::needsPowerCycleForBootMonitor(link.state.IdentU05))
            stepText_ = text(10001, "Power cycle the device.");
        startProbe();
        go(State::ProbingBootMonitor);
        return;
    }
    if (link.serial.takeBootFound()) {
        link.serial.endBootProbe();
        stepText_ = text(7004, "Flashing Device....");
        go(State::Flashing);
    } else if (tickCount_ > ticksFor(kProbeTicks, 200)) {
        if (ctx_.prompts.askYesNo(QString(),
                                  QStringLiteral("Device not detected, continue to wait?"), false,
                                  false)) {
            tickCount_ = 0;
            if (link.poll.queueAtRest())
                sendBootProbe();
        } else {
            failInBootLoader(QStringLiteral("The boot loader did not answer."), true);
        }
    } else if (link.poll.queueAtRest()) {
        sendBootProbe();
    }
}

// The flashing tool runs with the port closed; afterwards the port opens
// again for the unit's new firmware.
void FirmwareUpdate::tickFlashing() {
    SerialLink& serial = ctx_.link.serial;
    if (state_ == State::Flashed) {
        stepText_ = text(10001, "Power cycle the device.");
        go(State::ReopeningPort);
        return;
    }
    if (state_ == State::ReopeningPort) {
        if (!serial.isOpen()) {
            restoreLink();
        } else {
            oneFrame(BuildStatus());
            if (makeTopMost)
                makeTopMost();
            intervalMs_ = 1000;
            tickCount_ = 0;
            go(State::WaitingForFirmware);
        }
        return;
    }
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
            go(State::Flashed);
            break;
        }
        failInBootLoader(stopRequested_
                             ? QStringLiteral("The flashing tool was stopped.")
                             : QStringLiteral("The flashing tool ended with exit code %1.")
                                   .arg(tool_.exitCode()),
                         true);
        break;
    }
}

void FirmwareUpdate::tickWaitingForFirmware(bool answered) {
    Link& link = ctx_.link;
    if (answered) {
        stepText_ = text(7005, "Writing Settings....");
        intervalMs_ = 5000;
        // The new firmware answered; the pause before the settings go
        // back ends when it answers again.
        if (fast_)
            beginAnsweredWait(ticksFor(5, 1000));
        go(State::PausingBeforeWriteBack);
    } else if (tickCount_ >= ticksFor(kAnswerTicks, 1000)) {
        if (ctx_.prompts.askYesNo(QString(),
                                  QStringLiteral("Device not detected - continue to wait?"), false,
                                  false)) {
            tickCount_ = 0;
            if (link.poll.queueAtRest())
                oneFrame(BuildStatus());
        } else if (ctx_.prompts.askYesNo(QString(), QStringLiteral("Try to re-flash device??"),
                                         false, false)) {
            startProbe();
            go(State::ProbingBootMonitor);
        } else {
            failInBootLoader(QStringLiteral("The new firmware did not answer."), false);
        }
    } else if (link.poll.queueAtRest()) {
        oneFrame(BuildStatus());
    }
}

// The settings and the logo go back, then the burn.
void FirmwareUpdate::tickWriteBack(bool ended) {
    Link& link = ctx_.link;
    switch (state_) {
    case State::PausingBeforeWriteBack:
        if (fast_ && !answeredWaitOver())
            break;
        intervalMs_ = 1000;
        // The settings go back as the backup on disk holds them: every
        // register is known, whether this run read it or the backup came
        // from an earlier run, so the write sends them all.
        for (int r = 0; r < 256; ++r)
            link.state.setRegister(r, savedRegs_[size_t(r)], ValueSource::File);
        regBatchId_ = WriteAllRegisters(link).batchId;
        regFrames_ = link.poll.batchFrames();
        writeRetries_ = 0;
        logoBatchId_ = 0;
        go(State::WritingRegisters);
        break;
    case State::WritingRegisters: {
        if (!ended)
            break;
        // A register write whose reply was lost (or came late) is sent again,
        // twice at most: written twice, a register holds what it holds once.
        const QStringList lost = link.poll.outcome(regBatchId_).missingFrames(regFrames_);
        if (!lost.isEmpty() && writeRetries_ < kRetries) {
            ++writeRetries_;
            link.AddLog(
                QStringLiteral("Sending %1 write(s) again after a lost reply.").arg(lost.size()));
            regFrames_ = lost;
            regBatchId_ = link.startBatch(lost, 0, 0, false);
            break;
        }
        noteLost(regBatchId_, QStringLiteral("register"));
        if (noLogo || !backupHasLogo_) {
            countdown_ = 0;
        } else {
            logoBatchId_ = WriteLogo(link);
            // Nothing tells when the unit has stored the logo: the pause
            // keeps its length with the fast link too.
            countdown_ = pauseTicks();
        }
        go(State::PausingAfterLogo);
        break;
    }
    case State::PausingAfterLogo:
        if (countdown_ == 0)
            go(State::Burning);
        else
            --countdown_;
        break;
    case State::Burning:
        if (!ended)
            break;
        if (logoBatchId_ != 0)
            noteLost(logoBatchId_, QStringLiteral("logo word"));
        link.SetProgress(0, 0);
        oneFrame(BuildSystem(QStringLiteral("P")));
        // Nor when the burn is done.
        countdown_ = pauseTicks();
        go(State::PausingAfterBurn);
        break;
    case State::PausingAfterBurn:
        if (countdown_ == 0)
            go(State::Resetting);
        else
            --countdown_;
        break;
    default:
        break;
    }
}

// Reset, wait for the unit, and read register 01 back: it must hold the
// value burnt.
void FirmwareUpdate::tickCheck(bool answered) {
    Link& link = ctx_.link;
    switch (state_) {
    case State::Resetting:
        if (!link.poll.queueAtRest())
            break;
        tickCount_ = 0;
        link.SetProgress(0, 0);
        oneFrame(BuildSystem(QStringLiteral("R")));
        // The unit is back from its reset when it answers again.
        if (fast_)
            beginAnsweredWait(ticksFor(kResetTicks, 1000));
        go(State::WaitingForReset);
        break;
    case State::WaitingForReset:
        if (fast_ ? answeredWaitOver() : tickCount_ >= kResetTicks) {
            oneFrame(BuildRead(1));
            tickCount_ = 0;
            go(State::CheckingRegister01);
        }
        break;
    case State::CheckingRegister01:
        if (answered) {
            if (link.state.RegCache[1] == savedReg1_)
                complete();
            else
                failInBootLoader(QStringLiteral("Register 01 read back differs from the saved "
                                                "value."),
                                 false);
        } else if (tickCount_ >= ticksFor(kAnswerTicks, 1000)) {
            failInBootLoader(QStringLiteral("The unit did not answer the read-back of register "
                                            "01."),
                             false);
        } else if (link.poll.queueAtRest()) {
            oneFrame(BuildRead(1));
        }
        break;
    default:
        break;
    }
}

void FirmwareUpdate::complete() {
    stepText_ = text(7007, "Update Complete");
    if (!unconfirmed_.isEmpty()) {
        // The check passed, but the unit did not confirm every write: say
        // which, so that they can be written again.
        QStringList shown = unconfirmed_.mid(0, 24);
        if (unconfirmed_.size() > shown.size())
            shown << QStringLiteral("and %1 more").arg(unconfirmed_.size() - 24);
        stepText_ += QStringLiteral(", but these writes were not confirmed by the unit (write "
                                    "them again): ") +
                     shown.join(QStringLiteral(", "));
    }
    // What now runs, and where the settings from before are kept.
    doneSummary_ =
        (imageVersion_ ? QStringLiteral("Done: the unit runs firmware %1 from %2.")
                             .arg(formatFirmwareVersion(*imageVersion_, QLocale()),
                                  QFileInfo(firmwarePath_).fileName())
                       : QStringLiteral("Done: the unit runs the firmware from %1.")
                             .arg(QFileInfo(firmwarePath_).fileName())) +
        (backup_ ? QStringLiteral(" Its settings from before are kept in %1.").arg(backup_->cfg)
                 : QString());
    ctx_.link.AddLog(doneSummary_);
    enabled_ = true;
    caption_ = text(7009, "Exit");
    ctx_.link.SetProgress(100, 0);
    go(State::Complete);
}

} // namespace gp
