// The poll cycle in ticks: one frame in flight, a lost reply costs eight
// ticks, a lost last reply ends the batch at -2 without a completion step.
#include "app/view_tabs.h"
#include "link/link.h"
#include "support/fake_link_rig.h"

#include <QtTest>

using namespace gp;
using gp::test::FakePort;

namespace {
struct Rig : gp::test::FakeLinkRig {
    int completions = 0;
    QStringList labels;
    gp::ViewTabs tabs{link};
    Rig() {
        tabs.setActiveTab(3);
        tabs.completion[3] = [this] { ++completions; };
        link.progress.setOnChange([this](const ProgressState& s) { labels << s.label; });
    }
    void reply(const QByteArray& r) { port->feed(r); }
};
} // namespace

class TestPollCycle : public QObject {
    Q_OBJECT
  private slots:
    void threeFramesWithPromptReplies() {
        Rig r;
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        QCOMPARE(r.port->writtenFrames(), QStringList{":R00#"});
        r.reply("!R0001000000#");
        r.link.tick();
        QCOMPARE(r.port->writtenFrames().last(), QString(":R01#"));
        r.reply("!R0102000000#");
        r.link.tick();
        QCOMPARE(r.port->writtenFrames().last(), QString(":R02#"));
        r.reply("!R0203000000#");
        r.link.tick();
        QCOMPARE(r.port->written.size(), 3);
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.completions, 1);
        QCOMPARE(r.labels, (QStringList{"0%", "33%", "67%", "100%", "100%"}));
        QCOMPARE(r.link.state.RegCache[2], 3);
        QCOMPARE(r.link.poll.stats().answered, 3);
        QCOMPARE(r.link.poll.stats().lost, 0);
    }

    // The counters add up: every frame sent is answered or lost; a frame a
    // batch meant for a closed port is counted as not sent, not as lost.
    void countersAddUp() {
        Rig r;
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        r.reply("!R0001000000#");
        for (int i = 0; i < 20 && r.link.poll.running(); ++i) {
            r.link.tick();
            if (r.port->writtenFrames().last() == ":R02#")
                r.reply("!R0203000000#");
        }
        LinkCounters c = r.link.serial.counters;
        QCOMPARE(c.framesSent, 3);
        QCOMPARE(c.repliesDispatched + c.repliesLost, c.framesSent);
        QCOMPARE(c.repliesLost, 1);

        r.port->close();
        r.port->refuseOpen = PortError::Vanished;
        r.link.startBatch({":R00#", ":R01#"});
        for (int i = 0; i < 20 && r.link.poll.running(); ++i)
            r.link.tick();
        c = r.link.serial.counters;
        QCOMPARE(c.framesSent, 3);
        QCOMPARE(c.repliesLost, 1);
        QCOMPARE(c.framesNotSent, 2);
    }

    void lostMiddleReplyCostsEightTicks() {
        Rig r;
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        r.reply("!R0001000000#");
        r.link.tick(); // sends :R01#
        for (int i = 0; i < 7; ++i) {
            r.link.tick();
            QCOMPARE(r.port->written.size(), 2);
        }
        r.link.tick(); // eighth tick without a reply
        QCOMPARE(r.port->writtenFrames().last(), QString(":R02#"));
        r.reply("!R0203000000#");
        r.link.tick();
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.completions, 1);
        QCOMPARE(r.link.poll.stats().lost, 1);
        QCOMPARE(r.link.poll.stats().lostFrames, QStringList{":R01#"});
        QCOMPARE(r.link.serial.counters.repliesLost, 1);
    }

    void lostLastReplyEndsAtMinusTwo() {
        Rig r;
        bool ended = false;
        r.link.poll.subscribe([&](const BatchStats& s, bool) { ended = s.finished; });
        r.link.startBatch({":R00#", ":U05#"});
        r.reply("!R0001000000#");
        r.link.tick();
        for (int i = 0; i < 8; ++i)
            r.link.tick();
        QCOMPARE(r.link.poll.CmdQueuePos, -2);
        QCOMPARE(r.labels.last(), QString("0%"));
        QCOMPARE(r.completions, 0);
        QVERIFY(ended);
        // nothing more happens afterwards
        for (int i = 0; i < 20; ++i)
            r.link.tick();
        QCOMPARE(r.port->written.size(), 2);
    }

    void replyToALoneFrameWhileIdleIsStoredAndSendsNothing() {
        Rig r;
        r.link.poll.CmdQueuePos = -1;
        r.link.SendMsg(":R05#"); // a frame sent on its own, outside a batch
        r.reply("!R0505000000#");
        r.link.tick();
        QCOMPARE(r.link.state.RegCache[5], 5);
        QCOMPARE(r.port->written.size(), 1);
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.completions, 0);
    }

    void replyNothingAskedForIsStaleAndNotStored() {
        Rig r;
        r.link.poll.CmdQueuePos = -1;
        r.reply("!R0505000000#");
        r.link.tick();
        QCOMPARE(r.link.state.RegCache[5], 0);
        QCOMPARE(r.link.serial.counters.repliesStale, 1);
        QCOMPARE(r.link.serial.counters.repliesDispatched, 0);
        QVERIFY(r.port->written.isEmpty());
    }

    void noCompletionWhileAModalWindowIsVisible() {
        Rig r;
        r.tabs.pauseCompletion(); // the modal window opens
        r.link.startBatch({":R00#"});
        r.reply("!R0001000000#");
        r.link.tick();
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.completions, 0);
        r.tabs.resumeCompletion();
        r.link.startBatch({":R00#"});
        r.reply("!R0001000000#");
        r.link.tick();
        QCOMPARE(r.completions, 1);
    }

    void startUpWithoutABatchDoesNotDivideByZero() {
        // At start the queue position is 0 and no batch was ever started.
        Rig r;
        r.link.poll.CmdQueuePos = 0;
        for (int i = 0; i < 20; ++i)
            r.link.tick();
        QVERIFY(r.port->written.isEmpty());
        QVERIFY(!r.link.busy());
    }

    void batchOnAClosedPortRunsThroughOneEntryPerTick() {
        Rig r;
        r.link.serial.close();
        r.link.serial.MsgTimeout = -1; // the previous reply was dispatched long ago
        r.port->refuseOpen = PortError::NotFound;
        r.link.startBatch({":R00#", ":R01#", ":R02#"});
        int ticks = 0;
        while (r.link.poll.CmdQueuePos >= 0 && ticks < 100) {
            r.link.tick();
            ++ticks;
        }
        QCOMPARE(r.link.poll.CmdQueuePos, -2);
        QVERIFY(ticks <= 4);
        QVERIFY(r.port->written.isEmpty());
    }

    void batchStartingAtEntryOne() {
        Rig r;
        r.link.startBatch({":W01AA000000#", ":W02BB000000#"}, 2, 1);
        QCOMPARE(r.link.poll.CmdQueuePos, 1);
        QVERIFY(r.link.poll.CmdQueue[0].isEmpty());
        QCOMPARE(r.port->writtenFrames(), QStringList{":W01AA000000#"});
    }

    void tooManyFramesAreRefused() {
        Rig r;
        QStringList frames;
        for (int i = 0; i < 261; ++i)
            frames << ":R00#";
        QCOMPARE(r.link.startBatch(frames), 0);
        QVERIFY(r.port->written.isEmpty());
        frames.removeLast();
        QVERIFY(r.link.startBatch(frames) > 0);
    }

    void nestedTickReturnsAtOnce() {
        Rig r;
        int nested = 0;
        r.tabs.completion[3] = [&] {
            r.link.tick(); // a tick running inside a tick must do nothing
            ++nested;
        };
        r.link.startBatch({":R00#"});
        r.reply("!R0001000000#");
        r.reply("!R0002000000#"); // stays in the buffer
        r.link.tick();
        QCOMPARE(nested, 1);
        QCOMPARE(r.link.state.RegCache[0], 1);
    }
};

QTEST_GUILESS_MAIN(TestPollCycle)
#include "test_poll_cycle.moc"
