// The pass-through to the CO2 sensor: five-digit fields, reply keys, lines
// cut from the received characters however they arrive, the two command
// sequences and the end of the pass-through.
#include "co2/co2_link.h"
#include "support/fake_link_rig.h"

#include <QtTest>

using namespace gp;
using gp::test::FakePort;

namespace {

struct Rig : gp::test::FakeLinkRig {
    Co2Link co2{link};
    QStringList groups; // "key first second" of every group handed on
    Rig() {
        co2.onGroup = [this](const Co2Group& g) {
            groups << QStringLiteral("%1 %2 %3").arg(g.key).arg(g.first).arg(g.second);
        };
    }
    QStringList sent() const { return port->writtenFrames(); }
    // Runs both timers until neither has lines left (or n ticks).
    void runTicks(int n = 40) {
        for (int i = 0; i < n && !co2.idle(); ++i)
            co2.tick();
    }
};

QStringList crlf(const QStringList& lines) {
    QStringList out;
    for (const auto& l : lines)
        out << l + "\r\n";
    return out;
}

} // namespace

class TestCo2Link : public QObject {
    Q_OBJECT
  private slots:
    void fiveDigitFields_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("five digits") << "00450" << 450;
        QTest::newRow("largest") << "99999" << 99999;
        QTest::newRow("three digits count as zero") << "450" << 0;
        QTest::newRow("six digits count as zero") << "004500" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("letter counts zero in its place") << "004a5" << 405;
        QTest::newRow("sign counts zero") << "-0450" << 450;
    }
    void fiveDigitFields() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(Co2ParseFive(text), value);
    }

    void replyLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("level"); // -1: no level seen
        QTest::addColumn<QStringList>("groups");
        QTest::newRow("stream line") << QByteArray(" Z 00450 z 00449\r\n") << 450 << QStringList();
        QTest::newRow("short field reads zero")
            << QByteArray(" Z 450 z 449\r\n") << 0 << QStringList();
        QTest::newRow("no leading space is misread")
            << QByteArray("Z 00450 z 00449\r\n") << -1 << QStringList();
        QTest::newRow("parameter read")
            << QByteArray(" p 00010 00001\r\n") << -1 << QStringList{"p 10 1"};
        QTest::newRow("parameter ack")
            << QByteArray(" P 00016 00050\r\n") << -1 << QStringList{"P 16 50"};
        QTest::newRow("register read")
            << QByteArray(" R 00082 00003\r\n") << -1 << QStringList{"R 82 3"};
        QTest::newRow("filter both cases")
            << QByteArray(" a 00016\r\n A 00032\r\n") << -1 << QStringList{"a 16 0", "A 32 0"};
        QTest::newRow("keys are case-sensitive")
            << QByteArray(" r 00082 00003\r\n z 00400\r\n") << -1 << QStringList();
        QTest::newRow("status lines ignored")
            << QByteArray(" @ 00001 00004\r\n * 00000 00000\r\n ?\r\n") << -1 << QStringList();
    }
    void replyLines() {
        QFETCH(QByteArray, line);
        QFETCH(int, level);
        QFETCH(QStringList, groups);
        Rig r;
        r.co2.Co2Enter();
        r.port->feed(line);
        QCOMPARE(r.co2.level, level);
        QCOMPARE(r.groups, groups);
    }

    // However the port cuts the characters, every complete line is parsed
    // once and an unfinished one waits for the rest.
    void linesAcrossEvents_data() {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("no line feed waits") << QByteArrayList{" Z 00450 z 00449\r"} << QStringList()
                                            << QByteArray(" Z 00450 z 00449\r");
        QTest::newRow("split in three") << QByteArrayList{" Z 004", "50 z 00449\r", "\n"}
                                        << QStringList{"[Rx]  Z 00450 z 00449"} << QByteArray();
        QTest::newRow("two lines in one event")
            << QByteArrayList{" Z 00450 z 00449\r\n p 00010 00001\r\n"}
            << QStringList{"[Rx]  Z 00450 z 00449", "[Rx]  p 00010 00001"} << QByteArray();
        QTest::newRow("tail of the next line kept")
            << QByteArrayList{" P 00010 00001\r\n p 000", "10 00001\r\n"}
            << QStringList{"[Rx]  P 00010 00001", "[Rx]  p 00010 00001"} << QByteArray();
        QTest::newRow("tail still waiting") << QByteArrayList{" a 00016\r\n p 000"}
                                            << QStringList{"[Rx]  a 00016"} << QByteArray(" p 000");
    }
    void linesAcrossEvents() {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, logged);
        QFETCH(QByteArray, left);
        Rig r;
        r.co2.Co2Enter();
        const qsizetype before = r.link.log.lines().size();
        for (const auto& c : chunks)
            r.port->feed(c);
        QCOMPARE(r.link.log.lines().mid(before), logged);
        QCOMPARE(r.co2.Co2RxBuffer, left);
        // Nothing of the sensor's lines reaches the unit's reply path.
        QVERIFY(!r.link.serial.ReplyReady);
    }

    void noiseWithoutLineFeedIsBounded() {
        Rig r;
        r.co2.Co2Enter();
        r.port->feed(QByteArray(5000, 'x'));
        QVERIFY(r.co2.Co2RxBuffer.size() <= Co2Link::kRxBufferCap);
        r.port->feed("\r\n Z 00450 z 00449\r\n");
        QCOMPARE(r.co2.level, 450);
    }

    void readSequence_data() {
        QTest::addColumn<bool>("sensorHasParam16");
        QTest::addColumn<QStringList>("lines");
        const QStringList head{"K 0",  "a",    "p 16", "p 10", "p 05",
                               "p 03", "p 07", "p 08", "p 10", "p 12"};
        const QStringList tail{"R 69", "@", "*", "K 1"};
        QTest::newRow("basic sensor") << false << head + tail;
        QTest::newRow("sensor answers p 16")
            << true << head + QStringList{"p 17", "R 82", "R 84"} + tail;
    }
    void readSequence() {
        QFETCH(bool, sensorHasParam16);
        QFETCH(QStringList, lines);
        Rig r;
        r.co2.Co2Enter();
        QCOMPARE(r.sent(), QStringList{":SZ#"});
        QVERIFY(r.link.serial.Co2PassThrough);
        for (int i = 0; i < 4; ++i)
            r.co2.tick();
        // The answer to "p 16" comes in while the sequence goes on.
        if (sensorHasParam16)
            r.co2.Co2AdvancedCal = true;
        r.runTicks();
        QCOMPARE(r.sent().mid(1), crlf(lines));
        QVERIFY(r.co2.idle());
        QCOMPARE(r.co2.Co2ReadStep, -1);
    }

    void writeSequenceEndsWithReadingEverything() {
        Rig r;
        int readAlls = 0;
        r.co2.onReadAll = [&] { ++readAlls; };
        r.co2.Co2QueueWrite("P 10 1");
        for (int i = 0; i < 4; ++i)
            r.co2.tickWrite();
        QCOMPARE(r.sent(), crlf({"K 0", "P 10 1", "K 1"}));
        QCOMPARE(readAlls, 1);
        QVERIFY(!r.co2.writeTimerEnabled());
        QVERIFY(r.co2.readTimerEnabled());
    }

    // Leaving in the middle of both sequences: the sensor goes back to
    // stream mode, the unit takes the line back, and no sensor line follows
    // (it would reach the unit).
    void leavingEndsThePassThrough() {
        Rig r;
        r.co2.Co2Enter();
        r.co2.Co2QueueWrite("A 16");
        for (int i = 0; i < 3; ++i)
            r.co2.tick();
        const qsizetype before = r.sent().size();
        r.co2.Co2Leave();
        QCOMPARE(r.sent().mid(before), (QStringList{"K 1\r\n", "!"}));
        QVERIFY(!r.link.serial.Co2PassThrough);
        r.runTicks();
        QCOMPARE(r.sent().size(), before + 2);
        // Replies go the unit's way again.
        r.port->feed("!S01000000#");
        QVERIFY(r.link.serial.ReplyReady);
    }

    // Any unit frame, from any view or menu (File > Load included), ends the
    // pass-through before it goes out: it would reach the sensor otherwise.
    void unitFrameEndsThePassThroughFirst() {
        Rig r;
        r.co2.Co2Enter();
        const qsizetype before = r.sent().size();
        r.link.startBatch({":R00#", ":R01#"});
        QCOMPARE(r.sent().mid(before), (QStringList{"K 1\r\n", "!", ":R00#"}));
        QVERIFY(!r.link.serial.Co2PassThrough);
        QVERIFY(!r.co2.readTimerEnabled());
    }

    void closedPortOpensInsteadOfSending() {
        Rig r;
        r.link.serial.close();
        r.co2.sendLine("G");
        QVERIFY(r.sent().isEmpty());
        QVERIFY(r.link.serial.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestCo2Link)
#include "test_co2_link.moc"
