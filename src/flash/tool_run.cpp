#include "flash/tool_run.h"

#include "flash/bossac.h"

namespace gp::flash {

ToolRun::ToolRun(Link& link, ProcessRunner& runner) : link_(link), runner_(runner) {
    runner_.onLine = [this](const QString& line) {
        if (quiet_) {
            lines_ << line;
            return;
        }
        link_.AddLog(line);
        if (const auto p = progressOf(line))
            link_.SetProgress(*p, 0);
        if (onLine)
            onLine(line);
    };
    runner_.onFinished = [this](int code) {
        if (state_ != State::Running)
            return;
        exitCode_ = code;
        state_ = State::Done;
    };
    runner_.onFailedToStart = [this](const QString& reason) {
        startError_ = reason;
        state_ = State::NotStarted;
    };
}

ToolRun::~ToolRun() {
    runner_.onLine = nullptr;
    runner_.onFinished = nullptr;
    runner_.onFailedToStart = nullptr;
    if (runner_.running())
        runner_.kill();
}

void ToolRun::start(const QString& program, const QStringList& arguments, bool quiet) {
    quiet_ = quiet;
    lines_.clear();
    state_ = State::Running;
    exitCode_ = 0;
    startError_.clear();
    runner_.start(program, arguments);
}

void ToolRun::kill() {
    if (state_ == State::Running)
        runner_.kill();
}

void ToolRun::abandon() {
    if (state_ == State::Running)
        runner_.kill();
    state_ = State::Idle;
}

} // namespace gp::flash
