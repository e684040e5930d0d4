#pragma once
// One run of the flashing tool as a window's state machine sees it: the
// tool's lines go to the traffic log and drive the progress bar, and its end
// becomes a state that the next tick() reads. The window waits in its own
// state while the tool runs, so it stays responsive.

#include "link/link.h"
#include "platform/process_runner.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace gp::flash {

class ToolRun {
  public:
    enum class State { Idle, Running, Done, NotStarted };

    ToolRun(Link& link, ProcessRunner& runner);
    // Unhooks from the runner and ends a tool still running.
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    // quiet: the lines are only collected (lines()), not logged or passed on;
    // for a look at the tool (its version) rather than a run on the unit.
    void start(const QString& program, const QStringList& arguments, bool quiet = false);
    const QStringList& lines() const { return lines_; }
    // Ends a running tool; its end is then reported as Done (a non-zero code).
    void kill();
    // Ends a running tool and forgets the run.
    void abandon();
    // The end was handled: back to Idle.
    void reset() { state_ = State::Idle; }

    State state() const { return state_; }
    bool running() const { return state_ == State::Running; }
    int exitCode() const { return exitCode_; }
    // Why the tool could not be started (NotStarted).
    const QString& startError() const { return startError_; }

    // Each line the tool printed, after it went to the traffic log.
    std::function<void(const QString&)> onLine;

  private:
    Link& link_;
    ProcessRunner& runner_;
    State state_ = State::Idle;
    int exitCode_ = 0;
    QString startError_;
    bool quiet_ = false;
    QStringList lines_;
};

} // namespace gp::flash
