// The desktop tool. With --simulate it starts a simulated unit on a
// pseudo-terminal and connects to it, so it can be tried without hardware.

#include "app/form1.h"
#include "app/persist.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("glimmerpane"));
    QApplication::setApplicationVersion(QStringLiteral(GP_VERSION_TEXT));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Room unit commissioning and service tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Connect to a simulated unit."));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Use this settings file."),
                                      QStringLiteral("FILE"));
    parser.addOption(simulate);
    parser.addOption(settings);
    parser.process(app);

    gp::Form1Options options;
    options.settingsPath =
        parser.isSet(settings)
            ? parser.value(settings)
            : gp::Persist::defaultSettingsPath(QApplication::applicationFilePath());
    gp::Form1 form(options);
    form.show();
    return QApplication::exec();
}
