// The desktop tool's own cost on a laptop.
//
// startup: glimmerpane started as its own process against a simulated unit
// served on a pseudo-terminal by this one (it answers each frame 2 ms after
// it is in); from the process start to the first frame in the tool's traffic
// log file and to the identity line it logs once the identity is shown.
//
// idle and poll: the window in this process (offscreen) on a glimmerpane-sim
// of its own, so that the unit's work is not counted: this process's
// processor time over 60 s connected and doing nothing, then over 60 s with
// both Diagnostics polls ticked and their plot on screen.
#include "app/view_tabs.h"
#include "diag/diagnostics_view.h"
#include "gui/main_window.h"
#include "sim/pty_server.h"
#include "support/sim_process.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs events until done() or the time is up; answers done().
bool waitUntil(const std::function<bool()>& done, int ms) {
    // Looks every millisecond without spinning: the processor is left to
    // the program measured.
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(1);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// The processor share of this process over ms of running events.
double cpuPercentOver(int ms) {
    QElapsedTimer wall;
    const double before = cpuSeconds();
    wall.start();
    runFor(ms);
    return (cpuSeconds() - before) * 100.0 / (static_cast<double>(wall.elapsed()) / 1000.0);
}

// The wire time of the identity batch in a traffic log: its frames out and
// replies in at 9600 baud (10 bits a character), and the unit's 2 ms before
// each reply.
double identityWireMs(const QByteArray& log) {
    qint64 chars = 0;
    int frames = 0;
    for (const QByteArray& line : log.split('\n')) {
        if (line.startsWith("Identity read: "))
            break;
        if (line.startsWith("[Tx] ") || line.startsWith("[Rx] "))
            chars += line.trimmed().size() - 5;
        if (line.startsWith("[Tx] "))
            ++frames;
    }
    return static_cast<double>(chars) * 10.0 * 1000.0 / 9600.0 + frames * 2.0;
}

// fast: the fast link (the next frame once the reply is in, not at the next
// 20 ms tick).
bool startup(const QTemporaryDir& dir, bool fast) {
    gp::sim::PtySimServer unit(gp::sim::SimProfile{});
    if (!unit.start()) {
        std::fprintf(stderr, "startup: the simulated unit did not start\n");
        return false;
    }
    const QString log = dir.filePath(QStringLiteral("startup.log"));
    QFile::remove(log);
    const QString ini =
        dir.filePath(fast ? QStringLiteral("fast.ini") : QStringLiteral("ticked.ini"));
    QFile settings(ini);
    if (!settings.open(QIODevice::WriteOnly))
        return false;
    settings.write(fast ? "[default]\r\nFASTLINK=1\r\n" : "[default]\r\nFASTLINK=0\r\n");
    settings.close();
    QProcess tool;
    tool.setProgram(gp::test::programPath(QStringLiteral("glimmerpane")));
    tool.setArguments({QStringLiteral("--settings"), ini, QStringLiteral("--port"),
                       unit.slavePath(), QStringLiteral("--log"), log});
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    tool.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    tool.start();
    qint64 firstFrame = -1;
    qint64 identity = -1;
    QFile f(log);
    QByteArray seen;
    waitUntil(
        [&] {
            if (!f.isOpen() && !f.open(QIODevice::ReadOnly))
                return false;
            seen += f.readAll();
            if (firstFrame < 0 && seen.contains("[Tx] "))
                firstFrame = clock.elapsed();
            if (identity < 0 && seen.contains("Identity read: "))
                identity = clock.elapsed();
            return identity >= 0;
        },
        20000);
    tool.terminate();
    tool.waitForFinished(5000);
    if (identity < 0) {
        std::fprintf(stderr, "startup: no identity within 20 s; the log:\n%s\n", seen.constData());
        return false;
    }
    std::printf("startup: first_frame_ms=%lld identity_ms=%lld wire_ms=%.0f (process start, "
                "offscreen, %s)\n",
                static_cast<long long>(firstFrame), static_cast<long long>(identity),
                identityWireMs(seen), fast ? "fast link" : "20 ms ticks");
    return true;
}

// latencyMs: the unit's replies reach the computer in lumps every latencyMs,
// as through a USB serial adapter, or (0) character by character as through
// a plain UART.
bool idleAndPoll(const QTemporaryDir& dir, int seconds, int latencyMs, bool idleToo) {
    gp::test::SimProcess sim({QStringLiteral("--latency"), QString::number(latencyMs)});
    if (sim.path().isEmpty()) {
        std::fprintf(stderr, "idle: glimmerpane-sim did not start\n");
        return false;
    }
    const QString ini = dir.filePath(QStringLiteral("desktop.ini"));
    QFile settings(ini);
    if (!settings.open(QIODevice::WriteOnly))
        return false;
    // Advanced mode, for the Diagnostics view.
    settings.write("[default]\r\nADVANCED=plodnivster\r\n");
    settings.close();
    gp::Form1Options options;
    options.settingsPath = ini;
    options.simulatedPort = sim.path();
    options.startFolder = dir.path();
    gp::Form1 form(options);
    form.show();
    if (!waitUntil([&] { return form.context().appid >= 0; }, 20000)) {
        std::fprintf(stderr, "idle: no identity within 20 s\n");
        return false;
    }
    runFor(2000);
    const int kMs = seconds * 1000;
    const QString line = latencyMs > 0 ? QStringLiteral("USB adapter, %1 ms latency").arg(latencyMs)
                                       : QStringLiteral("UART, each character on its own");
    if (idleToo) {
        const double idle = cpuPercentOver(kMs);
        std::printf("idle: cpu_pct=%.2f (%d s connected, Device view)\n", idle, kMs / 1000);
    }

    form.tabs().SelectTab(gp::TabDiagnostics);
    auto* a2d = form.findChild<QCheckBox*>(QStringLiteral("CheckPollA2D"));
    auto* temps = form.findChild<QCheckBox*>(QStringLiteral("CheckPollTemps"));
    auto* view = form.findChild<gp::DiagnosticsView*>();
    if (!a2d || !temps || !view) {
        std::fprintf(stderr, "poll: the Diagnostics view has no Poll boxes\n");
        return false;
    }
    runFor(2000);
    a2d->click();
    temps->click();
    runFor(5000);
    const int before = view->trend().buffer().size();
    const double poll = cpuPercentOver(kMs);
    const int samples = view->trend().buffer().size() - before;
    std::printf("poll: cpu_pct=%.2f samples=%d (%d s, Diagnostics, both polls, plot shown; %s)\n",
                poll, samples, kMs / 1000, qPrintable(line));
    return samples > 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
        qputenv("GP_BUILD_DIR", QFile::encodeName(QCoreApplication::applicationDirPath()));
    QTemporaryDir dir;
    // The measuring time, 60 s unless given.
    const int seconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 60;
    return startup(dir, false) && startup(dir, true) && idleAndPoll(dir, seconds, 16, true) &&
                   idleAndPoll(dir, seconds, 0, false)
               ? 0
               : 1;
}
