#include "flash/low_level_flash.h"

#include "app/app_context.h"
#include "link/codec.h"
#include "platform/process_runner.h"

namespace gp {

namespace {
const QString kTitle = QStringLiteral("SAMBA");
const QString kLoadFailed = QStringLiteral("firmware load failed");
// The message exactly as engineers know it from this window, spelling included.
const QString kPowerCycle = QStringLiteral("Power Cylce Device");
} // namespace

LowLevelFlash::LowLevelFlash(AppContext& ctx, ProcessRunner& runner)
    : ctx_(ctx), tool_(ctx.link, runner) {
    tool_.onLine = [this](const QString& line) {
        if (onToolLine)
            onToolLine(line);
    };
}

LowLevelFlash::~LowLevelFlash() {
    if (tool_.state() != flash::ToolRun::State::Idle) {
        tool_.abandon();
        restoreLink();
    }
}

void LowLevelFlash::putIntoSamba() {
    // Frames still queued would reach the boot monitor as noise.
    ctx_.link.poll.abandon();
    ctx_.link.SendMsg(BuildSystem(QStringLiteral("AMBA")));
    ctx_.prompts.message(kTitle, kPowerCycle);
}

void LowLevelFlash::browse() {
    firmwarePath_ = ctx_.prompts.openFile(kTitle, QLatin1String(flash::kFirmwareFilter));
}

QString LowLevelFlash::buildShellCommand(const flash::WriteOptions& options) const {
    const SerialPort* port = ctx_.link.serial.port();
    return flash::buildCommandLine(options, port ? port->name() : QString(), firmwarePath_);
}

bool LowLevelFlash::execute(const QString& commandLine) {
    if (firmwarePath_.isEmpty() || tool_.state() != flash::ToolRun::State::Idle)
        return false;
    // Checked before the port is touched, so that a line that cannot run
    // leaves the link as it was.
    const auto words = flash::splitCommandLine(commandLine);
    if (!words || words->isEmpty() || words->first().isEmpty()) {
        ctx_.prompts.message(kTitle,
                             words ? QStringLiteral("The command line is empty; nothing was run.")
                                   : QStringLiteral("The command line has a quote that is not "
                                                    "closed; nothing was run."),
                             MessageKind::Error);
        return false;
    }
    Link& link = ctx_.link;
    SerialLink& serial = link.serial;
    // The tool takes the port over: nothing of ours may be sent meanwhile,
    // and a queued frame would open the port again.
    link.poll.abandon();
    if (serial.port())
        serial.port()->setSettings(QString::fromLatin1(flash::kMonitorSettings));
    serial.close();
    if (serial.isOpen()) {
        restoreLink();
        ctx_.prompts.message(kTitle,
                             QStringLiteral("The port could not be closed for the flashing tool; "
                                            "nothing was run."),
                             MessageKind::Error);
        return false;
    }
    program_ = words->first();
    const QStringList args = words->mid(1);
    link.AddLog(program_ + u' ' + args.join(u' '));
    link.SetProgress(0, 0);
    stopRequested_ = false;
    tool_.start(program_, args);
    return true;
}

void LowLevelFlash::tick() {
    if (tool_.state() == flash::ToolRun::State::Done ||
        tool_.state() == flash::ToolRun::State::NotStarted)
        finishRun();
}

void LowLevelFlash::finishRun() {
    QString text;
    MessageKind kind = MessageKind::Error;
    if (tool_.state() == flash::ToolRun::State::NotStarted) {
        text = kLoadFailed + QStringLiteral("\n\n") +
               flash::notStartedMessage(tool_.startError(), program_) + u' ' +
               flash::powerCycleHint();
    } else if (stopRequested_) {
        text = kLoadFailed + QStringLiteral("\n\nThe flashing tool was stopped. ") +
               flash::powerCycleHint();
    } else if (tool_.exitCode() != 0) {
        text = kLoadFailed +
               QStringLiteral("\n\nThe flashing tool ended with exit code %1. ")
                   .arg(tool_.exitCode()) +
               flash::powerCycleHint();
    } else {
        text = kPowerCycle;
        kind = MessageKind::Plain;
    }
    tool_.reset();
    // The link is back before the engineer reads the message.
    restoreLink();
    ctx_.prompts.message(kTitle, text, kind);
}

void LowLevelFlash::stopTool() {
    if (!tool_.running())
        return;
    stopRequested_ = true;
    tool_.kill();
}

void LowLevelFlash::abandon() {
    if (tool_.state() == flash::ToolRun::State::Idle)
        return;
    if (tool_.running())
        stopRequested_ = true;
    tool_.abandon();
    restoreLink();
}

void LowLevelFlash::restoreLink() {
    ctx_.link.serial.backToUnit();
}

} // namespace gp
