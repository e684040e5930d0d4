#pragma once
// The simulated unit behind --simulate: served on a pseudo-terminal in this
// process, so the run goes through the real serial port code.

#include "platform/result.h"

#include <QObject>
#include <QStringList>
#include <memory>

namespace gp::cli {

// Fails with why the unit could not be started (a bad fault, no terminal).
Result<std::unique_ptr<QObject>> startSimulator(const QStringList& simArgs);
QString simulatorPort(QObject& simulator);

} // namespace gp::cli
