#pragma once
// A throwaway PostgreSQL server for a test: initdb and pg_ctl in a temporary
// folder, listening on a socket in that folder alone (no TCP port to clash
// with another run), trust authentication, superuser "gp". Run as root, the server runs as the
// unprivileged user "nobody" (the server refuses root). Stopped and removed when the object goes.

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <unistd.h>

namespace gp::test {

class PgCluster {
  public:
    PgCluster() {
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (versions.isEmpty()) {
            error_ = QStringLiteral("no PostgreSQL server in /usr/lib/postgresql (Debian package "
                                    "postgresql)");
            return;
        }
        bin_ = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(versions.last());
        data_ = dir_.filePath(QStringLiteral("data"));
        if (geteuid() == 0)
            run(QStringLiteral("chown"), {QStringLiteral("nobody"), dir_.path()}, false);
        if (!run(bin_ + QStringLiteral("initdb"),
                 {QStringLiteral("-D"), data_, QStringLiteral("-U"), QStringLiteral("gp"),
                  QStringLiteral("--auth=trust"), QStringLiteral("--no-sync"), QStringLiteral("-E"),
                  QStringLiteral("UTF8")}))
            return;
        if (!run(bin_ + QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), data_, QStringLiteral("-w"), QStringLiteral("-l"),
                  dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
                  QStringLiteral("-k %1 -c listen_addresses= -c fsync=off").arg(dir_.path()),
                  QStringLiteral("start")}))
            return;
        started_ = true;
    }
    ~PgCluster() {
        if (started_)
            run(bin_ + QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), data_, QStringLiteral("-m"), QStringLiteral("immediate"),
                 QStringLiteral("stop")});
    }
    bool ok() const { return started_; }
    const QString& error() const { return error_; }
    // The database URL, libpq's form for a socket folder.
    QString url() const { return QStringLiteral("postgresql:///postgres?host=") + dir_.path(); }

  private:
    bool run(const QString& program, const QStringList& args, bool asServerUser = true) {
        QProcess p;
        if (asServerUser && geteuid() == 0)
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), QStringLiteral("nobody"),
                                QStringLiteral("--"), program} +
                        args);
        else
            p.start(program, args);
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            error_ = program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
            return false;
        }
        return true;
    }

    QTemporaryDir dir_;
    QString bin_;
    QString data_;
    bool started_ = false;
    QString error_;
};

} // namespace gp::test
