#include "cli/cli_simulator.h"

#include "sim/boot_monitor.h"
#include "sim/pty_server.h"

namespace gp::cli {

Result<std::unique_ptr<QObject>> startSimulator(const QStringList& simArgs) {
    auto server = std::make_unique<sim::PtySimServer>(sim::SimProfile{});
    // Nobody can switch a simulated unit off and on: it restarts by itself
    // once the flashing tool has gone quiet.
    if (auto* m = dynamic_cast<sim::SambaMonitor*>(&server->unit().bootMonitor()))
        m->setAutoPowerCycle(sim::SambaMonitor::kRestartQuietMs);
    for (const QString& fault : simArgs) {
        QString why;
        if (!server->arm(fault, &why))
            return fail(why);
    }
    if (!server->start())
        return fail(server->errorString());
    return std::unique_ptr<QObject>(std::move(server));
}

QString simulatorPort(QObject& simulator) {
    return static_cast<sim::PtySimServer&>(simulator).slavePath();
}

} // namespace gp::cli
