#include "cli/cli_session.h"

namespace gp::cli {

// Each capability declares its commands beside its own code.
QList<Command> linkCommands();
QList<Command> identityCommands();
QList<Command> co2Commands();
QList<Command> configCommands();
QList<Command> diagCommands();
QList<Command> flashCommands();
QList<Command> doctorCommands();
QList<Command> reportCommands();
QList<Command> siteCommands();

QList<Command> allCommands() {
    QList<Command> all;
    all += linkCommands();
    all += identityCommands();
    all += co2Commands();
    all += configCommands();
    all += diagCommands();
    all += flashCommands();
    all += doctorCommands();
    all += reportCommands();
    all += siteCommands();
    return all;
}

} // namespace gp::cli
