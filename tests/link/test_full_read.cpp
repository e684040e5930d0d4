// A full register-bank read (":R00#" .. ":RFF#", ":U05#") against the
// simulated unit, on a clean line and on a faulty one.
#include "link/codec.h"
#include "support/sim_rig.h"
#include "unit/bulk_transfer.h"

#include <QtTest>

using namespace gp;
using gp::test::SimRig;

class TestFullRead : public QObject {
    Q_OBJECT
  private slots:
    void cacheEqualsTheUnitsRegisters_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("lostRegister"); // -1: none
        QTest::addColumn<int>("garbage");
        QTest::newRow("clean line") << "" << -1 << 0;
        QTest::newRow("dropped reply") << "drop" << 0x40 << 0;
        QTest::newRow("garbage before a reply") << "garbage" << -1 << 1;
        QTest::newRow("split reply") << "split" << -1 << 0;
    }
    void cacheEqualsTheUnitsRegisters() {
        QFETCH(QString, fault);
        QFETCH(int, lostRegister);
        QFETCH(int, garbage);
        SimRig rig;
        for (int r = 0; r < 256; ++r)
            rig.unit().setReg(
                r, static_cast<int32_t>(static_cast<uint32_t>(r) * 0x01010101u ^ 0x5A000000u));
        // The stale value the cache holds for the register whose reply is lost.
        rig.link.state.RegCache.fill(-7);
        rig.link.startBatch(readAllFrames());
        // Let 0x40 frames go by, then disturb the next reply.
        rig.runUntil([&] { return rig.link.poll.CmdQueuePos >= 0x40; });
        if (fault == "drop")
            rig.port->dropNextReply();
        else if (fault == "garbage")
            rig.port->garbageBeforeNextReply("x?#!!zz");
        else if (fault == "split")
            rig.port->splitNextReply(5, 30.0);
        QCOMPARE(rig.runBatch(), -1);
        for (int r = 0; r < 256; ++r) {
            const int32_t expected = r == lostRegister ? -7 : rig.unit().reg(r);
            QCOMPARE(rig.link.state.RegCache[static_cast<size_t>(r)], expected);
        }
        QCOMPARE(rig.link.poll.stats().lost, lostRegister >= 0 ? 1 : 0);
        QCOMPARE(rig.link.poll.stats().answered, 257 - rig.link.poll.stats().lost);
        if (garbage)
            QVERIFY(rig.link.serial.counters.charsDiscarded > 0);
    }

    void unitThatDoesNotAnswerU05EndsAtMinusTwo() {
        SimRig rig;
        rig.link.startBatch(readAllFrames());
        rig.runUntil([&] { return rig.link.poll.CmdQueuePos == 256; });
        rig.port->dropNextReply();
        QCOMPARE(rig.runBatch(), -2);
        QCOMPARE(rig.link.poll.stats().lostFrames, QStringList{":U05#"});
        for (int r = 0; r < 256; ++r)
            QCOMPARE(rig.link.state.RegCache[static_cast<size_t>(r)], rig.unit().reg(r));
    }

    void vanishedAdapterEndsTheBatchAndTheLinkRecovers() {
        SimRig rig;
        rig.link.startBatch(readAllFrames());
        rig.runUntil([&] { return rig.link.poll.CmdQueuePos >= 10; });
        rig.port->vanish();
        QCOMPARE(rig.runBatch(), -2);
        QVERIFY(!rig.link.serial.isOpen());
        QVERIFY(rig.link.log.lines().filter("went away").size() == 1);
        rig.port->replug();
        rig.link.startBatch({":R01#"}); // reopens, frame lost
        rig.runBatch();
        rig.link.startBatch({":R01#"});
        QCOMPARE(rig.runBatch(), -1);
        QCOMPARE(rig.link.state.RegCache[1], rig.unit().reg(1));
    }
};

QTEST_GUILESS_MAIN(TestFullRead)
#include "test_full_read.moc"
