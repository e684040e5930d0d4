// An hour of live watching in virtual time: the Diagnostics view polling
// both its polls, then the CO2 view reading its sensor, ten minutes each in
// turn, against the simulated unit; the plots redrawn every second as on
// screen, the traffic log kept as the window keeps it. Prints this process's
// resident memory after the first round of both and at the end of the hour:
// the trend buffers are bounded and allocated up front, so nothing may grow.
#include "app/app_context.h"
#include "app/trend_widget.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "co2/co2_trend.h"
#include "co2/co2_view.h"
#include "diag/diagnostics_trend.h"
#include "diag/diagnostics_view.h"
#include "gui/traffic_log_view.h"
#include "sim/co2_sensor.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace gp;

namespace {

double rssMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    test::SimRig sim;
    sim::Co2SensorOptions sensor;
    sensor.advancedCalibration = true;
    sim.unit().setPassThroughPeer(std::make_unique<sim::Co2Sensor>(sensor));
    Persist persist{dir.filePath(QStringLiteral("glimmerpane.ini"))};
    LangDll lang;
    test::ScriptedPrompts prompts;
    ViewTabs tabs{sim.link};
    AppContext ctx{sim.link, persist, lang, prompts, tabs, OperatingMode{true, true}, -1};
    DiagnosticsView diag{ctx};
    Co2Channel co2{sim.link};
    Co2View co2View{ctx, co2};
    co2View.CO2ReadTimer.stop();
    co2View.CO2WriteTimer.stop();
    // The window's traffic log: every line the link logs, kept as shown.
    TrafficLogView log{prompts};
    sim.link.log.setOnLine([&log](const QString& line) { log.append(line); });
    diag.show();
    co2View.show();

    constexpr int kTicksPerSecond = 1000 / PollCycle::kTickMs;
    constexpr int kTicksPerMinute = 60 * kTicksPerSecond;
    bool co2Shown = false;
    sim.alsoTick = [&] {
        // The CO2 view's own read timer runs every fifth tick.
        if (co2Shown && sim.ticks % 5 == 4)
            co2View.co2Link().tick();
        if (sim.ticks % kTicksPerSecond == 0) {
            diag.trendPlot()->redraw();
            co2View.trendPlot()->redraw();
            log.flush();
            QCoreApplication::processEvents();
        }
    };
    auto watchDiagnostics = [&](int minutes) {
        co2Shown = false;
        tabs.SelectTab(TabDiagnostics);
        sim.runBatch();
        auto* a2d = diag.findChild<QCheckBox*>(QStringLiteral("CheckPollA2D"));
        auto* temps = diag.findChild<QCheckBox*>(QStringLiteral("CheckPollTemps"));
        if (!a2d->isChecked())
            a2d->click();
        if (!temps->isChecked())
            temps->click();
        sim.runTicks(minutes * kTicksPerMinute);
        // Another view: the polls stop with it.
        a2d->click();
        temps->click();
        sim.runBatch();
    };
    auto watchCo2 = [&](int minutes) {
        co2Shown = true;
        tabs.SelectTab(TabCO2);
        sim.runTicks(minutes * kTicksPerMinute);
    };

    constexpr int kRoundMinutes = 10;
    watchDiagnostics(kRoundMinutes);
    watchCo2(kRoundMinutes);
    const double start = rssMb();
    const int diagSamples = diag.trend().buffer().size();
    for (int round = 1; round < 3; ++round) {
        watchDiagnostics(kRoundMinutes);
        watchCo2(kRoundMinutes);
    }
    const double end = rssMb();
    if (diag.trend().buffer().size() <= diagSamples || co2View.trend().buffer().size() == 0) {
        std::fprintf(stderr, "memory: the trends were not fed (%d diagnostics, %d CO2 samples)\n",
                     diag.trend().buffer().size(), co2View.trend().buffer().size());
        return 1;
    }
    std::printf("memory: hours=1 rss_start_mb=%.1f rss_end_mb=%.1f growth_mb=%.1f "
                "(virtual time, start after the first 20 minutes; samples: %d diagnostics, "
                "%d CO2)\n",
                start, end, end - start, diag.trend().buffer().size(),
                co2View.trend().buffer().size());
    return 0;
}
