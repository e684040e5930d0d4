// The headless front end for scripted commissioning: the same batches and
// state machines as the desktop tool, driven from the command line.

#include "cli/cli_session.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {
void quitOnSignal(int) {
    QCoreApplication::exit(130);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimmerpane-cli"));
    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGTERM, quitOnSignal);
    QCoreApplication::setApplicationVersion(QStringLiteral(GP_VERSION_TEXT));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args == QStringList{QStringLiteral("--version")}) {
        std::printf("glimmerpane-cli %s\n", GP_VERSION_TEXT);
        return 0;
    }
    return gp::cli::runCli(args);
}
