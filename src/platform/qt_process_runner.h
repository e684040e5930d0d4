#pragma once
// The process seam on QProcess: no shell, stdout and stderr merged, output
// cut into lines at CR as well as LF (the flashing tool redraws its progress
// after a CR).

#include "platform/process_runner.h"

#include <QByteArray>
#include <QObject>

class QProcess;

namespace gp {

class QtProcessRunner : public QObject, public ProcessRunner {
  public:
    explicit QtProcessRunner(QObject* parent = nullptr);
    ~QtProcessRunner() override;

    void start(const QString& program, const QStringList& arguments) override;
    bool running() const override;
    void kill() override;

  private:
    void readOutput(bool flushAll);

    QProcess* process_ = nullptr;
    QByteArray pending_;
};

} // namespace gp
