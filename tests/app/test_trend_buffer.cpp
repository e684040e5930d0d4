// The samples behind the live trend plots: the bounded ring, the CSV export
// with the columns of the command-line watch, the diagnostics polls turned
// into samples (a lost reply leaves a gap, never an old value), and an hour
// of polling in virtual time that keeps the memory bounded.
#include "app/trend_buffer.h"
#include "app/view_tabs.h"
#include "co2/co2_trend.h"
#include "diag/diagnostics.h"
#include "diag/diagnostics_trend.h"
#include "support/sim_rig.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace gp;

namespace {
std::vector<int64_t> times(const TrendBuffer& b) {
    std::vector<int64_t> t;
    for (int i = 0; i < b.size(); ++i)
        t.push_back(b.at(i).tMs);
    return t;
}
} // namespace

class TestTrendBuffer : public QObject {
    Q_OBJECT
  private slots:
    void ringKeepsTheNewest_data() {
        QTest::addColumn<QList<qint64>>("appended");
        QTest::addColumn<QList<qint64>>("kept");
        QTest::newRow("below capacity keeps all")
            << QList<qint64>{0, 20, 40} << QList<qint64>{0, 20, 40};
        QTest::newRow("beyond capacity drops the oldest")
            << QList<qint64>{0, 20, 40, 60, 80, 100} << QList<qint64>{20, 40, 60, 80, 100};
        QTest::newRow("wrapping twice still in time order")
            << QList<qint64>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}
            << QList<qint64>{7, 8, 9, 10, 11};
        QTest::newRow("a clock going back starts over")
            << QList<qint64>{100, 120, 140, 10, 30} << QList<qint64>{10, 30};
    }
    void ringKeepsTheNewest() {
        QFETCH(QList<qint64>, appended);
        QFETCH(QList<qint64>, kept);
        TrendBuffer b({"x"}, 5);
        for (qint64 t : appended)
            b.append(t, {double(t)});
        std::vector<int64_t> want(kept.begin(), kept.end());
        QCOMPARE(times(b), want);
        for (int i = 0; i < b.size(); ++i)
            QCOMPARE(b.at(i).values.at(0), double(b.at(i).tMs)); // value stays with its time
    }

    void rowsAreAsWideAsTheSignals() {
        TrendBuffer b({"a", "b", "c"}, 4);
        b.append(0, {1.0});                 // short: padded with gaps
        b.append(20, {1.0, 2.0, 3.0, 4.0}); // long: cut
        QCOMPARE(b.at(0).values.size(), size_t(3));
        QVERIFY(std::isnan(b.at(0).values[1]) && std::isnan(b.at(0).values[2]));
        QCOMPARE(b.at(1).values.size(), size_t(3));
        QCOMPARE(b.at(1).values[2], 3.0);
    }

    void firstAtOrAfterFindsTheWindowStart() {
        TrendBuffer b({"x"}, 4);
        for (int t : {0, 100, 200, 300, 400, 500}) // 0 and 100 fall out
            b.append(t, {0});
        QCOMPARE(b.firstAtOrAfter(0), 0);
        QCOMPARE(b.firstAtOrAfter(250), 1);
        QCOMPARE(b.firstAtOrAfter(300), 1);
        QCOMPARE(b.firstAtOrAfter(501), 4);
    }

    void revisionMovesOnEveryChange() {
        TrendBuffer b({"x"}, 2);
        const auto r0 = b.revision();
        b.append(0, {1});
        const auto r1 = b.revision();
        b.append(20, {1});
        b.append(40, {1}); // wraps
        QVERIFY(r1 > r0);
        QVERIFY(b.revision() > r1 + 1);
    }

    void csvHasTheWatchColumns_data() {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("time from the first row, decimals per column, gaps empty")
            << qint64(-1) << qint64(-1)
            << QStringList{"t_ms,a2d0_count,a2d0_V", "0,2047,1.4996", "40,,", "80,4095,3.0000"};
        QTest::newRow("the window shown only")
            << qint64(1040) << qint64(1080)
            << QStringList{"t_ms,a2d0_count,a2d0_V", "0,,", "40,4095,3.0000"};
        QTest::newRow("nothing in the window: the header alone")
            << qint64(5000) << qint64(-1) << QStringList{"t_ms,a2d0_count,a2d0_V"};
    }
    void csvHasTheWatchColumns() {
        const QList<TrendColumn> columns{{"t_ms", -1, 0}, {"a2d0_count", 0, 0}, {"a2d0_V", 1, 4}};
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(QStringList, lines);
        TrendBuffer b({"count", "volts"}, 10);
        const double nan = std::nan("");
        b.append(1000, {2047, 2047 * 3.0 / 4095});
        b.append(1040, {nan, nan}); // a lost reply
        b.append(1080, {4095, 3.0});
        const auto f = from < 0 ? std::nullopt : std::optional<int64_t>(from);
        const auto t = to < 0 ? std::nullopt : std::optional<int64_t>(to);
        QCOMPARE(trendCsvLines(b, columns, f, t), lines);
    }

    void co2CsvNamesRowsByTheWallClock() {
        TrendBuffer b({"co2_ppm"}, 10);
        b.append(2000, {455});
        b.append(4000, {461});
        const QDateTime origin(QDate(2026, 3, 4), QTime(10, 0, 0));
        const QStringList lines =
            trendCsvLines(b, Co2Trend::csvColumns(), std::nullopt, std::nullopt, &origin);
        QCOMPARE(lines.value(0), QStringLiteral("time,co2_ppm"));
        QCOMPARE(lines.value(1), origin.addMSecs(2000).toString(Qt::ISODateWithMs) + ",455");
        QCOMPARE(lines.value(2), origin.addMSecs(4000).toString(Qt::ISODateWithMs) + ",461");
    }

    void csvFileIsCrLfAndReplacedWhole() {
        QTemporaryDir dir;
        const QString path = dir.filePath("trend.csv");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and much longer export that must not leave a tail behind\r\n");
        old.close();
        QCOMPARE(writeTrendCsv(path, {"t_ms,x", "0,1"}).error(), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("t_ms,x\r\n0,1\r\n"));
        QVERIFY(!writeTrendCsv(dir.filePath("no/such/folder/t.csv"), {"x"}).error().isEmpty());
    }

    void thresholdOnlyWhenTheSensorGaveOne_data() {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("line"); // < 0: none
        QTest::newRow("read and numeric") << true << "1000" << 1000.0;
        QTest::newRow("never answered") << false << "1000" << -1.0;
        QTest::newRow("placeholder text") << true << "---" << -1.0;
        QTest::newRow("zero means no threshold") << true << "0" << -1.0;
    }
    void thresholdOnlyWhenTheSensorGaveOne() {
        QFETCH(bool, answered);
        QFETCH(QString, text);
        QFETCH(double, line);
        const auto t = co2ThresholdOf(answered, text);
        QCOMPARE(t.has_value(), line >= 0);
        if (t)
            QCOMPARE(*t, line);
    }

    // Each poll batch that completes is one sample of exactly what it read.
    void pollBatchesBecomeSamples() {
        test::SimRig rig;
        DiagnosticsTrend trend;
        A2DRange range;
        auto poll = [&](std::optional<int> ch, bool temps) {
            const PollResult r = runPolls(rig.link, ch, temps, range, QLocale::c());
            trend.pollStarted(r.batchId, ch, temps);
            rig.runBatch();
            return trend.batchCompleted(rig.link);
        };
        QVERIFY(poll(2, true));
        QCOMPARE(trend.buffer().size(), 1);
        const auto& s = trend.buffer().newest();
        const int32_t raw = rig.link.state.ARegCache[2];
        QCOMPARE(s.values[DiagnosticsTrend::kA2DCount], double(raw));
        QCOMPARE(s.values[DiagnosticsTrend::kA2DVolts], raw * 3.0 / 4095.0);
        for (size_t i = 0; i < sensorRows().size(); ++i)
            QCOMPARE(s.values[DiagnosticsTrend::kFirstSensor + i],
                     double(rig.link.state.inputAsFloat(sensorRows()[i].item)));
        QCOMPARE(s.tMs, int64_t(rig.link.poll.tickCount()) * 20);

        // A lost sensor reply is a gap in that signal only.
        rig.port->arm(QStringLiteral("drop@3")); // ":A02#", ":I04#", ":I02#" <- lost
        QVERIFY(poll(2, true));
        const auto& gap = trend.buffer().newest();
        QVERIFY(std::isnan(gap.values[DiagnosticsTrend::kFirstSensor + 1]));
        QVERIFY(!std::isnan(gap.values[DiagnosticsTrend::kFirstSensor]));
        QVERIFY(!std::isnan(gap.values[DiagnosticsTrend::kA2DVolts]));

        // A batch that displaced one still awaiting its reply adds nothing:
        // the late reply can be taken for its first frame.
        {
            const PollResult a = runPolls(rig.link, 2, false, range, QLocale::c());
            trend.pollStarted(a.batchId, 2, false);
            const bool busy = rig.link.busy();
            const PollResult t = runPolls(rig.link, std::nullopt, true, range, QLocale::c());
            trend.pollStarted(t.batchId, std::nullopt, true, busy);
            QVERIFY(busy);
            rig.runBatch();
            QVERIFY(!trend.batchCompleted(rig.link));
            QCOMPARE(trend.buffer().size(), 2);
            rig.runTicks(20); // the straggler
        }

        // A batch that is not the poll (the tab's read) adds nothing.
        DiagnosticsRead(rig.link, range);
        rig.runBatch();
        QVERIFY(!trend.batchCompleted(rig.link));
        QCOMPARE(trend.buffer().size(), 2);

        // The CSV columns follow what was polled; another channel starts over.
        QCOMPARE(trendCsvLines(trend.buffer(), trend.csvColumns()).first(),
                 QStringLiteral("t_ms,a2d2_count,a2d2_V,NTC10,ChipcapT,X5,RI1,RI2,ChipcapH,"
                                "NTC_RAW,HUM_RAW"));
        QVERIFY(poll(5, false));
        QCOMPARE(trend.buffer().size(), 1);
        QCOMPARE(trendCsvLines(trend.buffer(), trend.csvColumns()).first(),
                 QStringLiteral("t_ms,a2d5_count,a2d5_V"));
    }

    // An hour of the fastest poll (one channel, back to back) in virtual
    // time, then ten minutes more: the buffer never holds more than its
    // capacity and keeps the newest samples. Nothing draws: appending is the
    // completion step's alone.
    void anHourOfPollingStaysBounded() {
        test::SimRig rig;
        DiagnosticsTrend trend;
        A2DRange range;
        ViewTabs tabs(rig.link);
        tabs.completion[5] = [&] {
            trend.batchCompleted(rig.link);
            const PollResult r = runPolls(rig.link, 0, false, range, QLocale::c());
            trend.pollStarted(r.batchId, 0, false);
        };
        tabs.setActiveTab(5);
        const PollResult first = runPolls(rig.link, 0, false, range, QLocale::c());
        trend.pollStarted(first.batchId, 0, false);
        constexpr int kHourTicks = 60 * 60 * 1000 / 20;
        int most = 0;
        for (int i = 0; i < kHourTicks + kHourTicks / 6; ++i) {
            rig.step();
            most = std::max(most, trend.buffer().size());
        }
        QVERIFY(most <= DiagnosticsTrend::kCapacity);
        QVERIFY(trend.buffer().size() > DiagnosticsTrend::kCapacity / 2);
        const int64_t now = int64_t(rig.link.poll.tickCount()) * 20;
        QVERIFY(trend.buffer().newest().tMs >= now - 100);
        // What is held is the last stretch, not the first hour.
        QVERIFY(trend.buffer().at(0).tMs >= 10 * 60 * 1000 - 1000);
        QCOMPARE(trend.buffer().capacity(), DiagnosticsTrend::kCapacity);
    }
};

QTEST_GUILESS_MAIN(TestTrendBuffer)
#include "test_trend_buffer.moc"
