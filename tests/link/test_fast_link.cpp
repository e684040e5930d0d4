// The fast link: the next frame of a batch leaves once the reply to the frame
// in flight is complete, not at the next tick. What is sent, in which order,
// what is stored and counted, and where the batch ends must be the same as
// when the tick paces the batch; only the reply time-out is left to the
// ticks.
#include "app/view_tabs.h"
#include "link/codec.h"
#include "support/fake_link_rig.h"
#include "support/sim_rig.h"
#include "unit/bulk_transfer.h"

#include <QtTest>

using namespace gp;
using gp::test::FakePort;
using gp::test::SimRig;

namespace {

// Everything a batch leaves behind that must not depend on the pacing.
struct Outcome {
    QStringList sent; // the frames on the wire, in order
    std::array<int32_t, 256> cache{};
    int answered = 0;
    int lost = 0;
    QStringList lostFrames;
    int endPos = 0;
    int completions = 0;
    int dispatched = 0;
    int stale = 0;
    int advances = 0;
};

Outcome runFullRead(bool fast, const QString& fault) {
    SimRig rig;
    if (fast)
        rig.setFast(true);
    for (int r = 0; r < 256; ++r)
        rig.unit().setReg(
            r, static_cast<int32_t>(static_cast<uint32_t>(r) * 0x01010101u ^ 0x5A000000u));
    rig.link.state.RegCache.fill(-7);
    int completions = 0;
    ViewTabs tabs(rig.link);
    tabs.setActiveTab(1);
    tabs.completion[1] = [&] { ++completions; };
    // The fault hits the reply to one chosen frame, whatever the pacing:
    // frame 0x41 is ":R40#", frame 257 is ":U05#".
    sim::WireFault f;
    f.frame = 0x41;
    if (fault == "lost middle") {
        f.kind = sim::FaultKind::DropReply;
    } else if (fault == "lost last") {
        f.kind = sim::FaultKind::DropReply;
        f.frame = 257;
    } else if (fault == "garbage") {
        f.kind = sim::FaultKind::GarbageBeforeReply;
        f.garbage = "x?#!!zz";
    } else if (fault == "split") {
        f.kind = sim::FaultKind::SplitReply;
        f.position = 5;
        f.delayMs = 30.0;
    }
    if (!fault.isEmpty())
        rig.port->arm(f);
    rig.link.startBatch(readAllFrames());
    Outcome o;
    o.endPos = rig.runBatch();
    for (const QString& line : rig.link.log.lines())
        if (line.startsWith("[Tx] "))
            o.sent << line.mid(5);
    o.cache = rig.link.state.RegCache;
    o.answered = rig.link.poll.stats().answered;
    o.lost = rig.link.poll.stats().lost;
    o.lostFrames = rig.link.poll.stats().lostFrames;
    o.completions = completions;
    o.dispatched = rig.link.serial.counters.repliesDispatched;
    o.stale = rig.link.serial.counters.repliesStale;
    o.advances = rig.advances();
    return o;
}

struct FakeRig : gp::test::FakeLinkRig {
    int scheduled = 0;
    int lastGap = -1;
    FakeRig() {
        link.scheduleAdvance = [this](int gap) {
            ++scheduled;
            lastGap = gap;
        };
    }
};

} // namespace

class TestFastLink : public QObject {
    Q_OBJECT
  private slots:
    void sameResultsAsTickPaced_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("endPos");
        QTest::addColumn<QStringList>("lostFrames");
        QTest::newRow("clean") << "" << -1 << QStringList{};
        QTest::newRow("lost middle reply") << "lost middle" << -1 << QStringList{":R40#"};
        QTest::newRow("lost last reply") << "lost last" << -2 << QStringList{":U05#"};
        QTest::newRow("garbage before a reply") << "garbage" << -1 << QStringList{};
        QTest::newRow("split reply") << "split" << -1 << QStringList{};
    }
    void sameResultsAsTickPaced() {
        QFETCH(QString, fault);
        QFETCH(int, endPos);
        QFETCH(QStringList, lostFrames);
        const Outcome ticked = runFullRead(false, fault);
        const Outcome fast = runFullRead(true, fault);
        // The expected result first, so that both modes being wrong alike
        // does not pass.
        QCOMPARE(ticked.endPos, endPos);
        QCOMPARE(ticked.lostFrames, lostFrames);
        QCOMPARE(ticked.sent, readAllFrames());
        QCOMPARE(ticked.advances, 0);
        QVERIFY(fast.advances > 200); // the fast path really carried the batch

        QCOMPARE(fast.sent, ticked.sent);
        QCOMPARE(fast.endPos, ticked.endPos);
        QCOMPARE(fast.answered, ticked.answered);
        QCOMPARE(fast.lost, ticked.lost);
        QCOMPARE(fast.lostFrames, ticked.lostFrames);
        QCOMPARE(fast.completions, ticked.completions);
        QCOMPARE(fast.dispatched, ticked.dispatched);
        QCOMPARE(fast.stale, ticked.stale);
        for (size_t r = 0; r < 256; ++r)
            QCOMPARE(fast.cache[r], ticked.cache[r]);
    }

    void settingFromTheSettingsFile_data() {
        QTest::addColumn<QString>("fastLink");
        QTest::addColumn<QString>("gap");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<bool>("problem");
        QTest::newRow("absent") << ""
                                << "" << false << 2 << false;
        QTest::newRow("on") << "1"
                            << "" << true << 2 << false;
        QTest::newRow("on in words") << " Yes "
                                     << "" << true << 2 << false;
        QTest::newRow("off") << "0"
                             << "" << false << 2 << false;
        QTest::newRow("on with a gap") << "true"
                                       << "5" << true << 5 << false;
        QTest::newRow("no gap at all") << "on"
                                       << "0" << true << 0 << false;
        QTest::newRow("nonsense stays off") << "fast"
                                            << "" << false << 2 << true;
        QTest::newRow("negative gap") << "1"
                                      << "-3" << true << 2 << true;
        QTest::newRow("gap beyond a tick") << "1"
                                           << "500" << true << 2 << true;
        QTest::newRow("gap not a number") << "1"
                                          << "2ms" << true << 2 << true;
    }
    void settingFromTheSettingsFile() {
        QFETCH(QString, fastLink);
        QFETCH(QString, gap);
        QFETCH(bool, on);
        QFETCH(int, gapMs);
        QFETCH(bool, problem);
        const FastLinkSetting s = fastLinkSetting(fastLink, gap);
        const QString why = s.note;
        QCOMPARE(s.on, on);
        QCOMPARE(s.gapMs, gapMs);
        QCOMPARE(!why.isEmpty(), problem);
    }

    void offByDefaultNothingIsScheduled() {
        FakeRig r;
        QVERIFY(!r.link.fast());
        r.link.startBatch({":R00#", ":R01#"});
        r.port->feed("!R0001000000#");
        QCOMPARE(r.scheduled, 0);
        QCOMPARE(r.port->written.size(), 1);
    }

    void completeReplySchedulesOnceWithTheGap() {
        FakeRig r;
        r.link.setFast(true, 5);
        r.link.startBatch({":R00#", ":R01#"});
        r.port->feed("!R00010");
        QCOMPARE(r.scheduled, 0); // not complete yet
        r.port->feed("00000#");
        QCOMPARE(r.scheduled, 1);
        QCOMPARE(r.lastGap, 5);
        // Nothing is sent from inside the receive path.
        QCOMPARE(r.port->written.size(), 1);
        r.port->feed("!R0505000000#"); // stale, arrives before the advance ran
        QCOMPARE(r.scheduled, 1);
        r.link.advanceNow();
        QCOMPARE(r.port->writtenFrames().last(), QString(":R01#"));
        QCOMPARE(r.link.state.RegCache[0], 1);
        QCOMPARE(r.link.serial.counters.repliesStale, 1);
        r.port->feed("!R0102000000#");
        QCOMPARE(r.scheduled, 2);
        r.link.advanceNow();
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.link.poll.stats().answered, 2);
    }

    void aTickInsideTheGapLeavesTheNextFrameToTheAdvance() {
        FakeRig r;
        r.link.setFast(true);
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        r.port->feed("!R0001000000#");
        r.link.tick(); // the unit's turnaround has not passed yet
        QCOMPARE(r.port->written.size(), 1);
        r.link.advanceNow();
        QCOMPARE(r.port->writtenFrames().last(), QString(":R01#"));
        // When the advance does not come, the tick after the next does the
        // work: the batch never waits on the host.
        r.port->feed("!R0102000000#");
        r.link.tick();
        QCOMPARE(r.port->written.size(), 2);
        r.link.tick();
        QCOMPARE(r.port->writtenFrames().last(), QString(":R02#"));
        QCOMPARE(r.link.poll.stats().answered, 2);
        QCOMPARE(r.link.poll.stats().lost, 0);
    }

    void advancesCountNoTimeAndTheTimeOutKeepsItsLength() {
        FakeRig r;
        r.link.setFast(true);
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        r.port->feed("!R0001000000#");
        r.link.advanceNow(); // :R01# leaves between two ticks
        QCOMPARE(r.port->writtenFrames().last(), QString(":R01#"));
        // However often the host calls in, no reply time passes.
        for (int i = 0; i < 50; ++i)
            r.link.advanceNow();
        QCOMPARE(r.link.poll.stats().lost, 0);
        // Sent between ticks, the frame waits the eight ticks a frame sent on
        // a tick waits, and one more for the part of a tick already gone.
        for (int i = 0; i < 8; ++i) {
            r.link.tick();
            QCOMPARE(r.port->written.size(), 2);
        }
        r.link.tick();
        QCOMPARE(r.link.poll.stats().lostFrames, QStringList{":R01#"});
        QCOMPARE(r.port->writtenFrames().last(), QString(":R02#"));
        // Given up, its late reply answers nothing.
        r.port->feed("!R0102000000#");
        r.link.advanceNow();
        QCOMPARE(r.link.state.RegCache[1], 0);
        QCOMPARE(r.link.serial.counters.repliesStale, 1);
        QCOMPARE(r.port->written.size(), 3);
    }

    void aWriteWaitingForItsReadGoesOnBetweenTicks() {
        FakeRig r;
        r.link.setFast(true);
        const WriteStart start = r.link.writes.request({0x10}, [](DeviceState& st) {
            WriteBatch b;
            b.frames = {BuildWrite(st, 0x10)};
            return b;
        });
        QVERIFY(start.readBatchId > 0);
        QCOMPARE(r.port->writtenFrames(), QStringList{":R10#"});
        r.port->feed("!R10AA000000#");
        r.link.advanceNow();
        QVERIFY(r.link.poll.stats().id != start.readBatchId);
        QCOMPARE(r.port->writtenFrames().last(), BuildWrite(r.link.state, 0x10));
        QCOMPARE(r.port->written.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFastLink)
#include "test_fast_link.moc"
