// A reply belongs to the frame in flight: the batch moves on only on a
// well-formed reply whose letter, item and length answer the frame it waits
// for. Replies to frames nobody waits for any more, damaged replies and line
// noise are counted as stale and never stored as the unit's values.
#include "app/view_tabs.h"
#include "config/save_config.h"
#include "diag/identity.h"
#include "link/codec.h"
#include "support/fake_link_rig.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace gp;
using gp::test::FakePort;
using gp::test::ScriptedPrompts;
using gp::test::SimRig;

namespace {

struct Rig : gp::test::FakeLinkRig {
    QString lastSent() const { return port->writtenFrames().last(); }
};

// The identity the simulated unit reports, as the Device view shows it.
QString trueUniqueId(const sim::SimProfile& p) {
    QStringList parts;
    for (uint32_t part : p.uniqueId)
        parts << QStringLiteral("%1").arg(part, 8, 16, QLatin1Char('0')).toUpper();
    return parts.join('-');
}

QString shownUniqueId(const DeviceState& s) {
    return QStringList{s.IdentStrings[0], s.IdentStrings[1], s.IdentStrings[2], s.IdentStrings[3]}
        .join('-');
}

} // namespace

class TestReplyOwnership : public QObject {
    Q_OBJECT
  private slots:
    // The frame in flight is the first of a two-frame batch; the row's reply
    // arrives. Only a reply that answers it sends the second frame.
    void batchMovesOnOnlyOnTheAnswerToItsFrame_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("answers");
        // Letters and items that belong together.
        QTest::newRow("register read") << ":R22#" << QByteArray("!R2205000000#") << true;
        QTest::newRow("register write echo")
            << ":W2205000000#" << QByteArray("!W2205000000#") << true;
        QTest::newRow("L item write") << ":L0501000000#" << QByteArray("!L0501000000#") << true;
        QTest::newRow("unique id part") << ":U01#" << QByteArray("!U010A1B2C3D#") << true;
        QTest::newRow("diagnostic item") << ":D0A#" << QByteArray("!D0A02000000#") << true;
        QTest::newRow("analogue channel") << ":A0C#" << QByteArray("!A0C10000000#") << true;
        QTest::newRow("status") << ":S#" << QByteArray("!S00030000#") << true;
        QTest::newRow("burn acknowledged with the status")
            << ":SP#" << QByteArray("!S00000000#") << true;
        // A damaged letter, noise, another item, a wrong length.
        QTest::newRow("damaged letter") << ":R22#" << QByteArray("!S2205000000#") << false;
        QTest::newRow("bare bang hash") << ":R22#" << QByteArray("!#") << false;
        QTest::newRow("other register") << ":R22#" << QByteArray("!R2105000000#") << false;
        QTest::newRow("short field") << ":R22#" << QByteArray("!R22050000#") << false;
        QTest::newRow("field not hex") << ":R22#" << QByteArray("!R22zz000000#") << false;
        QTest::newRow("read letter for a write")
            << ":W2205000000#" << QByteArray("!R2205000000#") << false;
        QTest::newRow("item reply for the status") << ":S#" << QByteArray("!S2205000000#") << false;
        QTest::newRow("identity item of another number")
            << ":U01#" << QByteArray("!U020A1B2C3D#") << false;
        // The unique id is four 32-bit words in hex: a part that is not eight
        // hex digits is a damaged reply, never the unit's id.
        QTest::newRow("unique id part with a damaged digit")
            << ":U01#" << QByteArray("!U010AgB2C3D#") << false;
        QTest::newRow("unique id part as text") << ":U00#" << QByteArray("!U00QRU1-xyz#") << false;
    }
    void batchMovesOnOnlyOnTheAnswerToItsFrame() {
        QFETCH(QString, frame);
        QFETCH(QByteArray, reply);
        QFETCH(bool, answers);
        Rig r;
        r.link.state.RegCache.fill(-7);
        r.link.state.StatusFlags = -7;
        r.link.startBatch({frame, ":R7F#"});
        r.port->feed(reply);
        r.link.tick();
        QCOMPARE(r.lastSent() == ":R7F#", answers);
        QCOMPARE(r.link.serial.counters.repliesStale, answers ? 0 : 1);
        QCOMPARE(r.link.poll.stats().answered, answers ? 1 : 0);
        if (!answers) {
            // Nothing of a reply that answers nothing lands in the caches.
            QVERIFY(std::all_of(r.link.state.RegCache.begin(), r.link.state.RegCache.end(),
                                [](int32_t v) { return v == -7; }));
            QCOMPARE(r.link.state.StatusFlags, -7);
            // The batch still waits; its time-out still applies.
            for (int i = 0; i < SerialLink::kReplyTimeoutTicks; ++i)
                r.link.tick();
            QCOMPARE(r.lastSent(), QString(":R7F#"));
            QCOMPARE(r.link.poll.stats().lostFrames, QStringList{frame});
        }
    }

    // The unit answers an abandoned ":R00#" after a new batch, also starting
    // with ":R00#", went out: that reply is not the new batch's answer, so
    // the replies that follow are not taken one frame late.
    void replyToAnAbandonedFrameIsNotTheNewBatchsAnswer() {
        Rig r;
        r.link.startBatch({":R00#", ":R01#"});
        r.link.poll.abandon();
        r.link.startBatch({":R00#", ":R02#"});
        QCOMPARE(r.port->writtenFrames(), (QStringList{":R00#", ":R00#"}));
        r.port->feed("!R0001000000#"); // the answer to the first ":R00#"
        r.link.tick();
        QCOMPARE(r.lastSent(), QString(":R00#"));
        r.port->feed("!R0001000000#"); // the answer to the second
        r.link.tick();
        QCOMPARE(r.lastSent(), QString(":R02#"));
        r.port->feed("!R0209000000#");
        r.link.tick();
        QCOMPARE(r.link.poll.CmdQueuePos, -1);
        QCOMPARE(r.link.state.RegCache[2], 9);
        QCOMPARE(r.link.poll.stats().answered, 2);
    }

    // A reply to a different frame of a batch that was abandoned, arriving
    // while the new batch waits: not taken, and its value not stored once
    // its own frame was given up.
    void lateReplyAfterItsFrameWasGivenUpIsStale() {
        Rig r;
        r.link.startBatch({":R05#"});
        for (int i = 0; i < SerialLink::kReplyTimeoutTicks; ++i)
            r.link.tick();
        QCOMPARE(r.link.poll.CmdQueuePos, -2);
        r.link.startBatch({":R06#"});
        r.port->feed("!R0505000000#");
        r.link.tick();
        QCOMPARE(r.link.state.RegCache[5], 0);
        QVERIFY(r.link.busy());
        QCOMPARE(r.link.serial.counters.repliesStale, 1);
    }

    // A reply that comes after its frame was given up: a write's exact echo
    // shows the unit took the write, so the batch counts it answered late;
    // a read's value, or an echo of another value, is not taken.
    void lateEchoOfAWriteConfirmsIt_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("late");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("register write") << ":W2201000000#" << QByteArray("!W2201000000#") << true;
        QTest::newRow("logo word write") << ":L5F01000000#" << QByteArray("!L5F01000000#") << true;
        QTest::newRow("write echoed with another value")
            << ":W2201000000#" << QByteArray("!W2202000000#") << false;
        QTest::newRow("register read") << ":R22#" << QByteArray("!R2201000000#") << false;
    }
    void lateEchoOfAWriteConfirmsIt() {
        QFETCH(QString, frame);
        QFETCH(QByteArray, late);
        QFETCH(bool, confirmed);
        Rig r;
        const int id = r.link.startBatch({frame, ":R05#"}, 0, 0, false);
        for (int i = 0; i <= SerialLink::kReplyTimeoutTicks; ++i)
            r.link.tick();
        QCOMPARE(r.link.poll.outcome(id).lostFrames, QStringList{frame});
        r.port->feed(late);
        r.link.tick();
        r.port->feed("!R0505000000#");
        r.link.tick();
        const BatchOutcome o = r.link.poll.outcome(id);
        QVERIFY(o.finished);
        QCOMPARE(o.lostFrames.isEmpty(), confirmed);
        QCOMPARE(o.complete(), confirmed);
        QCOMPARE(r.link.state.RegCache[0x22], 0); // nothing late is stored
    }

    // Every complete reply that arrives between two ticks is handled, in
    // order: a stale one in front of the answer does not hide the answer,
    // and two frames sent on their own both get their replies stored.
    void everyReplyOfAChunkIsHandled() {
        Rig r;
        r.link.startBatch({":R01#", ":R02#"});
        r.port->feed("!#!R0007000000#!R0105000000#");
        r.link.tick();
        QCOMPARE(r.lastSent(), QString(":R02#"));
        QCOMPARE(r.link.state.RegCache[1], 5);
        QCOMPARE(r.link.state.RegCache[0], 0);
        QCOMPARE(r.link.serial.counters.repliesStale, 2);

        Rig lone;
        lone.link.poll.CmdQueuePos = -1;
        lone.link.SendMsg(":D05#");
        lone.link.SendMsg(":R03#");
        lone.port->feed("!D0511000000#!R0322000000#");
        lone.link.tick();
        QCOMPARE(lone.link.state.DiagValues[0], 0x11);
        QCOMPARE(lone.link.state.RegCache[3], 0x22);
        QCOMPARE(lone.link.serial.counters.repliesDispatched, 2);
        QCOMPARE(lone.link.serial.counters.repliesStale, 0);
    }

    // The start-up: choosing the stored port starts the identity read, then
    // selecting the Device view asks for the very same read. Only one runs,
    // and whatever the timing between the two, the identity is the unit's.
    void hundredStartUpsShowTheTrueIdentity() {
        for (int run = 0; run < 100; ++run) {
            sim::SimProfile profile;
            profile.uniqueId[3] = 0x9F3E0000u + static_cast<uint32_t>(run);
            SimRig rig(profile);
            rig.port->setTurnaroundMs(2.0);
            ViewTabs tabs(rig.link);
            tabs.readOnSelect[TabDevice] = [&] { IdentityRead(rig.link); };
            // The port choice step.
            rig.link.SetProgress(0, 0);
            IdentityRead(rig.link);
            // The rest of the start-up takes a while: up to three ticks and
            // a part of a byte time, different from run to run.
            rig.port->advance(0.37 * (run % 23));
            rig.runTicks(run % 4);
            tabs.SelectTab(TabDevice);
            QCOMPARE(rig.runBatch(), -1);
            QCOMPARE(shownUniqueId(rig.link.state), trueUniqueId(profile));
            QCOMPARE(rig.link.state.RegCache[1], rig.unit().reg(1));
            QCOMPARE(rig.link.state.RegCache[0x24], rig.unit().reg(0x24));
            QCOMPARE(rig.link.poll.stats().lost, 0);
            QCOMPARE(rig.unit().framesReceived(), quint64(identityFrames().size()));
        }
    }

    // An identical batch asked for while it runs is that batch.
    void identicalBatchIsNotStartedTwice() {
        Rig r;
        const int first = r.link.startBatch({":R00#", ":R01#"});
        QCOMPARE(r.link.startBatch({":R00#", ":R01#"}), first);
        QCOMPARE(r.port->written.size(), 1);
        // A different batch replaces it.
        const int other = r.link.startBatch({":R00#", ":R02#"});
        QVERIFY(other != first);
        QCOMPARE(r.port->written.size(), 2);
    }

    // The save reads every register. Noise on the line or a damaged letter
    // must not turn into a file of wrong values: a reply that answers nothing
    // is not taken, its frame counts as not answered, and the save asks to
    // read again or refuses, naming the register.
    void saveNeverTakesNoiseForTheUnitsValues_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<int>>("unread");
        QTest::newRow("bang hash before every reply") << "garbage=!#@every" << QList<int>{};
        // The 35th frame of the read is ":R22#"; its reply arrives as "!S22...".
        // Read again on its own (frames 258 and 259), it is taken; damaged
        // every time, the save names it.
        QTest::newRow("damaged letter on register 22 once") << "corrupt=1@35" << QList<int>{};
        QTest::newRow("damaged letter on register 22 every time")
            << "corrupt=1@35,258,259" << QList<int>{0x22};
        QTest::newRow("bang hash in place of one reply") << "garbage=!#@35" << QList<int>{};
    }
    void saveNeverTakesNoiseForTheUnitsValues() {
        QFETCH(QString, fault);
        QFETCH(QList<int>, unread);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        for (int r = 2; r < 256; ++r)
            rig.unit().setReg(r, 0x1000 + r * 3);
        IdentityRead(rig.link);
        QCOMPARE(rig.runBatch(), -1);
        ScriptedPrompts p;
        p.files << path;
        p.answers << false; // no second read
        SaveConfig save(rig.link, p, true);
        save.tick(); // idle link: the read starts next
        if (fault.startsWith("corrupt")) {
            for (const QString& n : fault.section('@', 1).split(',')) {
                sim::WireFault f;
                f.kind = sim::FaultKind::CorruptReply;
                f.frame = n.toInt();
                f.position = 1;
                f.replacement = 'S';
                rig.port->arm(f);
            }
        } else {
            sim::WireFault f;
            f.kind = sim::FaultKind::GarbageBeforeReply;
            f.garbage = "!#";
            f.everyReply = fault.endsWith("every");
            f.frame = f.everyReply ? 0 : 35;
            rig.port->arm(f);
        }
        rig.alsoTick = [&] { save.tick(); };
        QVERIFY(rig.runUntil([&] { return save.finished(); }));
        rig.alsoTick = nullptr;
        QCOMPARE(save.unreadRegisters(), unread);
        QCOMPARE(save.saved(), unread.isEmpty());
        QVERIFY(rig.link.serial.counters.repliesStale > 0);
        if (unread.isEmpty()) {
            // Every register in the cache is the unit's.
            for (int r = 0; r < 256; ++r)
                QCOMPARE(rig.link.state.RegCache[static_cast<size_t>(r)], rig.unit().reg(r));
        } else {
            QVERIFY(save.failure().contains("22"));
            QVERIFY(!QFile::exists(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestReplyOwnership)
#include "test_reply_ownership.moc"
