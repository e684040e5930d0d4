#include "cli/cli_session.h"

namespace gp::cli {

// Each capability declares its commands beside its own code.
QList<Command> linkCommands();
QList<Command> identityCommands();

QList<Command> allCommands() {
    QList<Command> all;
    all += linkCommands();
    all += identityCommands();
    return all;
}

} // namespace gp::cli
