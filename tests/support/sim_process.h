#pragma once
// glimmerpane-sim run as its own process for end-to-end tests: started with
// options, its pseudo-terminal path read from its first line of output,
// stopped when the object goes.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace gp::test {

// Where the built programs are (CTest passes the build folder).
inline QString programPath(const QString& name) {
    const QByteArray dir = qgetenv("GP_BUILD_DIR");
    return QDir(dir.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(dir)).filePath(name);
}

class SimProcess {
  public:
    explicit SimProcess(const QStringList& args = {}) {
        proc_.setProgram(programPath(QStringLiteral("glimmerpane-sim")));
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start();
        if (!proc_.waitForStarted(10000))
            return;
        while (!proc_.canReadLine() && proc_.waitForReadyRead(10000)) {
        }
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~SimProcess() {
        proc_.terminate();
        if (!proc_.waitForFinished(5000))
            proc_.kill();
        proc_.waitForFinished(2000);
    }
    // The pseudo-terminal's path, empty when the simulator did not start.
    QString path() const { return path_; }

  private:
    QProcess proc_;
    QString path_;
};

} // namespace gp::test
