#include "cli/cli_simulator.h"

#include "sim/boot_monitor.h"
#include "sim/pty_server.h"

namespace gp::cli {

std::unique_ptr<QObject> startSimulator(const QStringList& simArgs, QString* error) {
    auto server = std::make_unique<sim::PtySimServer>(sim::SimProfile{});
    // Nobody can switch a simulated unit off and on: it restarts by itself
    // once the flashing tool has gone quiet.
    if (auto* m = dynamic_cast<sim::SambaMonitor*>(&server->unit().bootMonitor()))
        m->setAutoPowerCycle(sim::SambaMonitor::kRestartQuietMs);
    for (const QString& fault : simArgs) {
        if (!server->arm(fault, error))
            return nullptr;
    }
    if (!server->start()) {
        if (error)
            *error = server->errorString();
        return nullptr;
    }
    return server;
}

QString simulatorPort(QObject& simulator) {
    return static_cast<sim::PtySimServer&>(simulator).slavePath();
}

} // namespace gp::cli
