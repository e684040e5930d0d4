#pragma once
// glimmerpane-cli run as its own process by the end-to-end tests: its exit
// status and what it printed on each stream.

#include "support/sim_process.h"

#include <QProcess>
#include <QStringList>

namespace gp::test {

struct Run {
    int status = -1; // -1: crashed or did not finish in time
    QString out;
    QString err;
};

inline QString cliPath() {
    return programPath(QStringLiteral("glimmerpane-cli"));
}

// Waits for a started glimmerpane-cli and collects what it printed.
inline Run finish(QProcess& p, int timeoutMs = 120000) {
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline Run cli(const QStringList& args, int timeoutMs = 120000) {
    QProcess p;
    p.start(cliPath(), args);
    return finish(p, timeoutMs);
}

} // namespace gp::test
