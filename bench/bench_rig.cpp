// Several units at once: "config load" of one .cfg file to one simulated
// unit, then to eight at once, each a glimmerpane-sim on its own
// pseudo-terminal, in real time. The work is mostly waiting on the wire, so
// eight units should take little longer than one.
#include "support/sim_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kUnits = 8;

// Runs glimmerpane-cli; answers its real time in seconds, or -1 when it
// failed.
double cli(const QStringList& args) {
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(gp::test::programPath(QStringLiteral("glimmerpane-cli")), args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "glimmerpane-cli %s failed:\n%s%s\n", qPrintable(args.join(' ')),
                     p.readAllStandardOutput().constData(), p.readAllStandardError().constData());
        return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The programs are beside this one.
    if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
        qputenv("GP_BUILD_DIR", QFile::encodeName(QCoreApplication::applicationDirPath()));
    std::vector<std::unique_ptr<gp::test::SimProcess>> sims;
    QStringList ports;
    for (int i = 0; i < kUnits; ++i) {
        sims.push_back(std::make_unique<gp::test::SimProcess>());
        if (sims.back()->path().isEmpty()) {
            std::fprintf(stderr, "rig: glimmerpane-sim did not start\n");
            return 1;
        }
        ports << sims.back()->path();
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("line.cfg"));
    // The file every unit gets: the first unit's settings.
    if (cli({QStringLiteral("--fast"), QStringLiteral("--port"), ports.first(),
             QStringLiteral("config"), QStringLiteral("save"), file}) < 0)
        return 1;
    const QStringList load{QStringLiteral("config"), QStringLiteral("load"), file};
    const double one = cli(QStringList{QStringLiteral("--port"), ports.first()} + load);
    const double all =
        cli(QStringList{QStringLiteral("--ports"), ports.join(QLatin1Char(','))} + load);
    if (one <= 0 || all <= 0)
        return 1;
    std::printf("rig: units=%d one_s=%.2f all_s=%.2f ratio=%.2f\n", kUnits, one, all, all / one);
    return 0;
}
