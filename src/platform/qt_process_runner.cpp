#include "platform/qt_process_runner.h"

#include <QProcess>

namespace gp {

QtProcessRunner::QtProcessRunner(QObject* parent) : QObject(parent) {}

QtProcessRunner::~QtProcessRunner() {
    if (process_) {
        process_->disconnect(this);
        if (process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(2000);
        }
    }
}

void QtProcessRunner::start(const QString& program, const QStringList& arguments) {
    if (running())
        return;
    if (process_) {
        process_->disconnect(this);
        process_->deleteLater();
    }
    pending_.clear();
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    connect(process_, &QProcess::readyReadStandardOutput, this, [this]() { readOutput(false); });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && onFailedToStart)
            onFailedToStart(process_->errorString());
    });
    connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        readOutput(true);
        if (onFinished)
            onFinished(status == QProcess::NormalExit ? code : -1);
    });
    process_->start(program, arguments, QIODevice::ReadOnly);
}

bool QtProcessRunner::running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

void QtProcessRunner::kill() {
    if (running())
        process_->kill();
}

void QtProcessRunner::readOutput(bool flushAll) {
    pending_ += process_->readAllStandardOutput();
    qsizetype start = 0;
    for (qsizetype i = 0; i < pending_.size(); ++i) {
        const char c = pending_[i];
        if (c != '\r' && c != '\n')
            continue;
        const QByteArray line = pending_.mid(start, i - start);
        start = i + 1;
        if (!line.isEmpty() && onLine)
            onLine(QString::fromLocal8Bit(line));
    }
    pending_.remove(0, start);
    if (flushAll && !pending_.isEmpty()) {
        if (onLine)
            onLine(QString::fromLocal8Bit(pending_));
        pending_.clear();
    }
}

} // namespace gp
