// The real serial code (QSerialPort) talking to glimmerpane-sim over its
// pseudo-terminal, in real time.
#include "link/codec.h"
#include "link/link.h"
#include "platform/qt_serial_port.h"
#include "support/sim_process.h"

#include <QtTest>

using namespace gp;

class TestLinkPty : public QObject {
    Q_OBJECT
  private slots:
    void readsRegistersOverThePseudoTerminal() {
        test::SimProcess sim({"--features", "0x0A", "--app-id", "3"});
        QVERIFY2(!sim.path().isEmpty(), "glimmerpane-sim did not print its terminal");
        Link link;
        link.serial.setPort(std::make_unique<QtSerialPort>());
        QVERIFY(link.serial.choosePort(sim.path()));
        QStringList frames;
        for (int r = 0; r < 16; ++r)
            frames << BuildRead(r);
        frames << BuildItemRead('U', 4) << BuildStatus();
        link.startBatch(frames);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { link.tick(); });
        tick.start(PollCycle::kTickMs);
        QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 30000);
        QCOMPARE(link.poll.CmdQueuePos, -1);
        QCOMPARE(link.poll.stats().lost, 0);
        // feature bits 1 and 3, application id 3 in the top nibble
        QCOMPARE(static_cast<uint32_t>(link.state.RegCache[1]), 0x3000000Au);
        QVERIFY(link.state.FirmwareVersion != 0);
        // every frame and reply is in the traffic log, in order
        const QStringList tx = link.log.lines().filter("[Tx] ");
        QCOMPARE(tx.size(), frames.size());
        QCOMPARE(tx.first(), QString("[Tx] :R00#"));
        QCOMPARE(link.log.lines().filter("[Rx] ").size(), frames.size());
    }

    void missingPortGivesOneClearLine() {
        Link link;
        link.serial.setPort(std::make_unique<QtSerialPort>());
        QStringList status;
        link.serial.onStatus = [&](const QString& s) { status << s; };
        QVERIFY(!link.serial.choosePort("/dev/glimmerpane-no-such-port"));
        for (int i = 0; i < 5; ++i)
            link.SendMsg(":R01#");
        QCOMPARE(status.size(), 1);
        QVERIFY(status.first().contains("/dev/glimmerpane-no-such-port"));
    }
};

QTEST_GUILESS_MAIN(TestLinkPty)
#include "test_link_pty.moc"
