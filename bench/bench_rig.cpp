// Several units at once: "config load" of one .cfg file to one simulated
// unit, then to eight at once, then to thirty-two, each a glimmerpane-sim on
// its own pseudo-terminal, in real time. The work is mostly waiting on the
// wire, so many units should take little longer than one. For the bench of
// thirty-two, the tool's own processor time (of its process alone, not of
// the simulated units) per unit says how many units a laptop has room for.
#include "support/sim_process.h"
#include "timed_cli.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

// The processor time of the children that ended and were waited for.
double childrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double cli(const QStringList& args) {
    return gp::bench::timedCli(args, 600000);
}

// Loads one unit, then all of `units`; prints the line. The simulated units
// run until the end, so the children's processor time that grows across a
// run of the tool is the tool's own.
bool rig(int units, const char* label, bool cpu) {
    std::vector<std::unique_ptr<gp::test::SimProcess>> sims;
    QStringList ports;
    for (int i = 0; i < units; ++i) {
        sims.push_back(std::make_unique<gp::test::SimProcess>());
        if (sims.back()->path().isEmpty()) {
            std::fprintf(stderr, "%s: glimmerpane-sim did not start\n", label);
            return false;
        }
        ports << sims.back()->path();
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("line.cfg"));
    // The file every unit gets: the first unit's settings.
    if (cli({QStringLiteral("--fast"), QStringLiteral("--port"), ports.first(),
             QStringLiteral("config"), QStringLiteral("save"), file}) < 0)
        return false;
    const QStringList load{QStringLiteral("config"), QStringLiteral("load"), file};
    const double one = cli(QStringList{QStringLiteral("--port"), ports.first()} + load);
    const double cpuBefore = childrenCpuSeconds();
    const double all =
        cli(QStringList{QStringLiteral("--ports"), ports.join(QLatin1Char(','))} + load);
    const double toolCpu = childrenCpuSeconds() - cpuBefore;
    if (one <= 0 || all <= 0)
        return false;
    if (!cpu) {
        std::printf("%s: units=%d one_s=%.2f all_s=%.2f ratio=%.2f\n", label, units, one, all,
                    all / one);
        return true;
    }
    std::printf("%s: units=%d one_s=%.2f all_s=%.2f ratio=%.2f tool_cpu_s_per_unit=%.3f "
                "tool_cpu_pct_per_unit=%.2f\n",
                label, units, one, all, all / one, toolCpu / units, toolCpu / units * 100.0 / all);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The programs are beside this one.
    if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
        qputenv("GP_BUILD_DIR", QFile::encodeName(QCoreApplication::applicationDirPath()));
    return rig(8, "rig", false) && rig(32, "rig32", true) ? 0 : 1;
}
