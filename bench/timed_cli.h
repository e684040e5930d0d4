#pragma once
// glimmerpane-cli run by a bench: its real time, or a failure said on stderr.

#include "support/cli_run.h"

#include <QElapsedTimer>
#include <cstdio>

namespace gp::bench {

// Runs glimmerpane-cli; answers its real time in seconds, or -1 when it
// failed or did not finish within timeoutMs.
inline double timedCli(const QStringList& args, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    const gp::test::Run r = gp::test::cli(args, timeoutMs);
    if (r.status != 0) {
        std::fprintf(stderr, "glimmerpane-cli %s failed (status %d):\n%s%s\n",
                     qPrintable(args.join(' ')), r.status, qPrintable(r.out), qPrintable(r.err));
        return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace gp::bench
