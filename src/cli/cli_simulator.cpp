#include "cli/cli_simulator.h"

#include "sim/pty_server.h"

namespace gp::cli {

std::unique_ptr<QObject> startSimulator(const QStringList& simArgs, QString* error) {
    auto server = std::make_unique<sim::PtySimServer>(sim::SimProfile{});
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
