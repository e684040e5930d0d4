#pragma once
// The seam to external programs (the flashing tool). Asynchronous: start()
// returns at once; output lines and the end arrive through the callbacks,
// so a window's state machine waits in its state while the program runs.

#include <QString>
#include <QStringList>
#include <functional>

namespace gp {

class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;

    // Starts program with its arguments, without a shell.
    virtual void start(const QString& program, const QStringList& arguments) = 0;
    virtual bool running() const = 0;
    // Ends a running program (the engineer gave up on it).
    virtual void kill() = 0;

    // Each line of output (stdout and stderr), split at CR as well as LF.
    std::function<void(const QString&)> onLine;
    // The program ended with this exit code (killed: a non-zero code).
    std::function<void(int exitCode)> onFinished;
    // The program could not be started at all; the text says why.
    std::function<void(const QString& reason)> onFailedToStart;
};

} // namespace gp
