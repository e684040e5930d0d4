// The desktop tool. With --simulate it starts a simulated unit on a
// pseudo-terminal and connects to it, so it can be tried without hardware.

#include "app/persist.h"
#include "gui/main_window.h"
#include "platform/atomic_file.h"
#include "sim/boot_monitor.h"
#include "sim/pty_server.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

namespace {

const QCommandLineOption kSimulate(QStringLiteral("simulate"),
                                   QStringLiteral("Connect to a simulated unit."));
const QCommandLineOption kSettings(QStringLiteral("settings"),
                                   QStringLiteral("Use this settings file."),
                                   QStringLiteral("FILE"));
const QCommandLineOption kPort(QStringLiteral("port"),
                               QStringLiteral("Connect to this port (it is not stored as the "
                                              "port to use next time)."),
                               QStringLiteral("PORT"));
const QCommandLineOption kLog(QStringLiteral("log"),
                              QStringLiteral("Write the traffic log to this file from the "
                                             "start."),
                              QStringLiteral("FILE"));

void describe(QCommandLineParser& parser) {
    QCoreApplication::setApplicationName(QStringLiteral("glimmerpane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GP_VERSION_TEXT));
    parser.setApplicationDescription(QStringLiteral("Room unit commissioning and service tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(kSimulate);
    parser.addOption(kSettings);
    parser.addOption(kPort);
    parser.addOption(kLog);
}

// --help and --version print and exit without a window, so they work on a
// machine without a display too.
bool onlyText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h" || a == "-?" || a == "--help-all" || a == "--version" ||
            a == "-v")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    gp::ignoreFileSizeLimitSignal();
    if (onlyText(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(app);
        return 0;
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);
    const QCommandLineOption& simulate = kSimulate;
    const QCommandLineOption& settings = kSettings;

    gp::Form1Options options;
    options.settingsPath =
        parser.isSet(settings)
            ? parser.value(settings)
            : gp::Persist::defaultSettingsPath(QApplication::applicationFilePath());
    if (parser.isSet(kPort))
        options.simulatedPort = parser.value(kPort);
    options.logFile = parser.value(kLog);
    // The simulated unit is served in this process on a pseudo-terminal, so
    // the window talks to it through its ordinary serial port code.
    std::unique_ptr<gp::sim::PtySimServer> unit;
    if (parser.isSet(simulate)) {
        unit = std::make_unique<gp::sim::PtySimServer>(gp::sim::SimProfile{});
        // Nobody can switch a simulated unit off and on: it restarts by itself
        // once the flashing tool has gone quiet.
        if (auto* m = dynamic_cast<gp::sim::SambaMonitor*>(&unit->unit().bootMonitor()))
            m->setAutoPowerCycle(gp::sim::SambaMonitor::kRestartQuietMs);
        if (!unit->start()) {
            qCritical("glimmerpane: cannot start the simulated unit: %s",
                      qPrintable(unit->errorString()));
            return 1;
        }
        options.simulatedPort = unit->slavePath();
    }
    gp::Form1 form(options);
    form.show();
    return QApplication::exec();
}
