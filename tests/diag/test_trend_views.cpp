// The trend plots in their views, offscreen against the simulated unit: the
// polls and the sensor stream fill the trend from the completion step even
// while no plot is drawn, the plot redraws only when something changed and
// not while paused, the legend hides and shows a line, the threshold line
// follows the sensor, and "Export CSV..." writes the watch's columns.
#include "app/app_context.h"
#include "app/trend_widget.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "co2/co2_trend.h"
#include "co2/co2_view.h"
#include "diag/diagnostics_view.h"
#include "sim/co2_sensor.h"
#include "sim/sim_port.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"

#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QtTest>
#include <limits>

using namespace gp;

namespace {

struct DiagRig {
    test::SimRig sim;
    QTemporaryDir dir;
    Persist persist{dir.filePath("glimmerpane.ini")};
    LangDll lang;
    test::ScriptedPrompts prompts;
    ViewTabs tabs{sim.link};
    AppContext ctx{sim.link, persist, lang, prompts, tabs, OperatingMode{true, true}, -1};
    DiagnosticsView view{ctx};

    template <class T> T* find(const QString& name) { return view.findChild<T*>(name); }
    void startPolls() {
        tabs.SelectTab(TabDiagnostics);
        sim.runBatch();
        find<QCheckBox>("CheckPollA2D")->click();
        find<QCheckBox>("CheckPollTemps")->click();
    }
};

QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
}

} // namespace

class TestTrendViews : public QObject {
    Q_OBJECT
  private slots:
    // The poll never waits for the plot: ten minutes of polls with the plot
    // never drawn still give every sample; one redraw then shows them all.
    void pollsFillTheTrendWithoutThePlot() {
        DiagRig r;
        r.startPolls();
        TrendWidget* plot = r.view.trendPlot();
        QVERIFY(plot);
        r.sim.runTicks(10 * 60 * 1000 / 20);
        // The second box was clicked while the first poll's frame was out:
        // that batch gave no sample, so none shows a sensor never read.
        for (int i = 0; i < r.view.trend().buffer().size(); ++i)
            QVERIFY(r.view.trend().buffer().at(i).values[DiagnosticsTrend::kFirstSensor] != 0.0);
        const int samples = r.view.trend().buffer().size();
        QVERIFY(samples > 1000);
        QCOMPARE(plot->redrawCount(), 0);
        plot->redraw();
        QCOMPARE(plot->redrawCount(), 1);
        QVERIFY(plot->series(0)->count() > 100); // volts of the polled channel
        plot->redraw();                          // nothing new: nothing drawn
        QCOMPARE(plot->redrawCount(), 1);
        QVERIFY(plot->series(0)->count() <= TrendWidget::kMaxPointsPerSeries + 1);
    }

    // The fastest poll (the channel alone) for an hour and ten minutes with
    // the view and its plot in place but never drawn: the trend is full, no
    // larger than its bound, and holds the newest hour.
    void anHourOfTheFastestPollInTheView() {
        DiagRig r;
        r.tabs.SelectTab(TabDiagnostics);
        r.sim.runBatch();
        r.find<QCheckBox>("CheckPollA2D")->click();
        const TrendBuffer& b = r.view.trend().buffer();
        int most = 0;
        for (int i = 0; i < 70 * 60 * 1000 / 20; ++i) {
            r.sim.step();
            most = std::max(most, b.size());
        }
        QVERIFY(most <= DiagnosticsTrend::kCapacity);
        QVERIFY(b.newest().tMs - b.at(0).tMs <= 60 * 60 * 1000);
        QVERIFY(b.newest().tMs - b.at(0).tMs > 50 * 60 * 1000);
        QCOMPARE(r.view.trendPlot()->redrawCount(), 0);
        r.find<QComboBox>("ComboTrendWindow")->setCurrentIndex(2); // 60 min: one redraw
        QCOMPARE(r.view.trendPlot()->redrawCount(), 1);
        QVERIFY(r.view.trendPlot()->series(0)->count() <= TrendWidget::kMaxPointsPerSeries + 1);
    }

    void pauseFreezesThePlotNotTheTrend() {
        DiagRig r;
        r.startPolls();
        r.sim.runTicks(500);
        TrendWidget* plot = r.view.trendPlot();
        r.find<QCheckBox>("CheckTrendPause")->setChecked(true);
        const QList<QPointF> frozen = plot->series(1)->points();
        const auto span = plot->shownSpan();
        const int before = r.view.trend().buffer().size();
        r.sim.runTicks(500);
        QVERIFY(r.view.trend().buffer().size() > before);
        plot->redraw();
        QCOMPARE(plot->series(1)->points(), frozen);
        QCOMPARE(plot->shownSpan(), span);
        r.find<QCheckBox>("CheckTrendPause")->setChecked(false);
        QVERIFY(plot->series(1)->points() != frozen);
    }

    void windowSelectorSetsTheSpan_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("minutes");
        QTest::newRow("1 min") << 0 << 1;
        QTest::newRow("10 min") << 1 << 10;
        QTest::newRow("60 min") << 2 << 60;
    }
    void windowSelectorSetsTheSpan() {
        QFETCH(int, index);
        QFETCH(int, minutes);
        DiagRig r;
        r.startPolls();
        r.sim.runTicks(200);
        r.find<QComboBox>("ComboTrendWindow")->setCurrentIndex(index);
        const auto span = r.view.trendPlot()->shownSpan();
        QVERIFY(span);
        QCOMPARE(span->second - span->first, int64_t(minutes) * 60000);
    }

    // Samples as (time in seconds, value; NaN for a lost reply), and the
    // pieces the line is drawn in.
    void timeWithoutSamplesIsAGap_data() {
        QTest::addColumn<QList<QPointF>>("samples");
        QTest::addColumn<QList<int>>("pieces"); // points in each piece
        auto steady = [](double from, double to, double step) {
            QList<QPointF> l;
            for (double t = from; t < to - 1e-9; t += step)
                l << QPointF(t, 20 + t / 100);
            return l;
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("steady polls") << steady(0, 10, 0.25) << QList<int>{40};
        QTest::newRow("another view for a minute")
            << steady(0, 10, 0.25) + steady(70, 80, 0.25) << QList<int>{40, 40};
        QTest::newRow("two absences")
            << steady(0, 5, 0.5) + steady(30, 35, 0.5) + steady(100, 102, 0.5)
            << QList<int>{10, 10, 4};
        // A slow sensor is steady at its own pace, not a row of gaps.
        QTest::newRow("a sample every 10 s") << steady(0, 100, 10) << QList<int>{10};
        QTest::newRow("one reply lost")
            << steady(0, 5, 0.25) + QList<QPointF>{{5, nan}} + steady(5.25, 10, 0.25)
            << QList<int>{39};
    }
    void timeWithoutSamplesIsAGap() {
        QFETCH(QList<QPointF>, samples);
        QFETCH(QList<int>, pieces);
        TrendBuffer b({QStringLiteral("t")}, 1000);
        for (const QPointF& p : samples)
            b.append(int64_t(p.x() * 1000), {p.y()});
        TrendWidget plot(b, {{0, QStringLiteral("t"), 0, true}}, {{QStringLiteral("C")}});
        plot.redraw();
        QList<int> drawn;
        for (const QList<QPointF>& piece : plot.drawnPieces(0))
            drawn << int(piece.size());
        QCOMPARE(drawn, pieces);
        // The samples come back together: the gap's pieces are emptied.
        b.clear();
        b.append(0, {1});
        b.append(500, {2});
        plot.redraw();
        QCOMPARE(plot.drawnPieces(0).size(), 1);
    }

    // Degrees, ohms and volts each on their own axis, shown while one of
    // their lines is: ticking a resistance does not squash the temperatures.
    void eachQuantityOnItsOwnAxis() {
        DiagRig r;
        r.startPolls();
        r.sim.runTicks(400);
        TrendWidget* plot = r.view.trendPlot();
        plot->redraw();
        QValueAxis* degrees = plot->axis(0);
        QValueAxis* ohms = plot->axis(2);
        QValueAxis* volts = plot->axis(4);
        QVERIFY(degrees->titleText().contains(QStringLiteral("\u00b0C")));
        QVERIFY(degrees->isVisible() && volts->isVisible() && !ohms->isVisible());
        const double span = degrees->max() - degrees->min();
        QVERIFY(span < 200);
        QLineSeries* ri1 = plot->series(4);
        QCOMPARE(ri1->name(), QStringLiteral("RI1"));
        emit plot->chart()->legend()->markers(ri1).value(0)->clicked();
        QVERIFY(ohms->isVisible());
        QCOMPARE(degrees->max() - degrees->min(), span);
        QVERIFY(ohms->max() >= ri1->points().value(0).y());
        // A steady channel's noise is not blown up to the plot's height.
        QVERIFY(volts->max() - volts->min() >= 0.05);
    }

    void legendHidesAndShowsALine() {
        DiagRig r;
        TrendWidget* plot = r.view.trendPlot();
        QLineSeries* ntc = plot->series(1);
        QCOMPARE(ntc->name(), QStringLiteral("NTC10"));
        QVERIFY(ntc->isVisible());
        QLegendMarker* marker = plot->chart()->legend()->markers(ntc).value(0);
        QVERIFY(marker);
        emit marker->clicked();
        QCoreApplication::processEvents(); // the legend lays itself out later
        QVERIFY(!ntc->isVisible());
        QVERIFY(marker->isVisible()); // still there to bring it back
        emit marker->clicked();
        QVERIFY(ntc->isVisible());
        // Humidity and the raw inputs start hidden, in the legend.
        QVERIFY(!plot->series(6)->isVisible());
        QCOMPARE(plot->series(6)->name(), QStringLiteral("ChipcapH"));
    }

    void exportWritesTheWatchColumns() {
        DiagRig r;
        r.startPolls();
        r.sim.runTicks(400);
        const QString path = r.dir.filePath("diag.csv");
        r.prompts.files << path;
        r.find<QPushButton>("CommandTrendExport")->click();
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.value(0), QStringLiteral("t_ms,a2d0_count,a2d0_V,NTC10,ChipcapT,X5,RI1,RI2,"
                                                "ChipcapH,NTC_RAW,HUM_RAW"));
        QCOMPARE(lines.size() - 1, r.view.trend().buffer().size());
        QVERIFY(lines.value(1).startsWith("0,"));
        QCOMPARE(lines.value(1).split(',').size(), 11);
        // Nothing plotted yet: said, no file asked for.
        DiagRig empty;
        empty.find<QPushButton>("CommandTrendExport")->click();
        QCOMPARE(empty.prompts.filters.size(), 0);
        QCOMPARE(empty.prompts.messages.size(), 1);
    }

    void co2StreamIsPlottedWithItsThreshold() {
        QTemporaryDir dir;
        Link link;
        Persist persist{dir.filePath("t.ini")};
        LangDll lang;
        test::ScriptedPrompts prompts;
        ViewTabs tabs{link};
        AppContext ctx{link, persist, lang, prompts, tabs, {}, -1};
        Co2Channel co2{link};
        Co2View view{ctx, co2};
        auto p = std::make_unique<sim::SimPort>();
        sim::SimPort* port = p.get();
        sim::Co2SensorOptions o;
        o.advancedCalibration = true;
        port->unit().setPassThroughPeer(std::make_unique<sim::Co2Sensor>(o));
        link.serial.setPort(std::move(p));
        link.serial.choosePort("simunit0");
        view.CO2ReadTimer.stop();
        view.CO2WriteTimer.stop();
        auto run = [&](int ms) {
            for (int t = 0; t < ms; t += 20) {
                port->advance(20);
                link.tick();
                if ((t / 20) % 5 == 4)
                    view.co2Link().tick();
            }
        };
        tabs.SelectTab(TabCO2);
        run(20000);
        const TrendBuffer& b = view.trend().buffer();
        QVERIFY(b.size() >= 10);
        QCOMPARE(b.newest().values[0], double(view.co2Link().level));
        TrendWidget* plot = view.trendPlot();
        plot->redraw();
        QCOMPARE(plot->series(0)->count(), b.size());
        // The sensor answered for its threshold: the line is drawn at it.
        const QString threshold = view.findChild<QLineEdit*>("CO2Text11")->text();
        QLineSeries* line = plot->thresholdLine();
        QVERIFY(line && line->isVisible());
        QCOMPARE(line->at(0).y(), threshold.toDouble());

        const QString path = dir.filePath("co2.csv");
        prompts.files << path;
        view.findChild<QPushButton*>("CommandTrendExport")->click();
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.value(0), QStringLiteral("time,co2_ppm"));
        QCOMPARE(lines.size() - 1, b.size());
        QVERIFY(
            QDateTime::fromString(lines.value(1).section(',', 0, 0), Qt::ISODateWithMs).isValid());
        QCOMPARE(lines.last().section(',', 1), QString::number(view.co2Link().level));
    }
};

QTEST_MAIN(TestTrendViews)
#include "test_trend_views.moc"
