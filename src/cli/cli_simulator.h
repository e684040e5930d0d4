#pragma once
// The simulated unit behind --simulate: served on a pseudo-terminal in this
// process, so the run goes through the real serial port code.

#include <QObject>
#include <QStringList>
#include <memory>

namespace gp::cli {

std::unique_ptr<QObject> startSimulator(const QStringList& simArgs, QString* error);
QString simulatorPort(QObject& simulator);

} // namespace gp::cli
