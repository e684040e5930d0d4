// The real serial code (QSerialPort) talking to glimmerpane-sim over its
// pseudo-terminal, in real time.
#include "link/codec.h"
#include "link/link.h"
#include "platform/qt_serial_port.h"
#include "support/sim_process.h"

#include <QtTest>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

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

    // QSerialPort holds written bytes until the event loop hands them on and
    // drops them on close: a flush before closing gets the last lines (the
    // end of the CO2 pass-through) onto the line.
    void flushBeforeCloseDeliversTheLastLines() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString slave = QString::fromLocal8Bit(::ptsname(master));
        {
            QtSerialPort port;
            port.setName(slave);
            QVERIFY(port.open());
            QVERIFY(port.write("K 1\r\n"));
            QVERIFY(port.write("!"));
            QVERIFY(port.flush(1000));
            port.close();
        }
        QByteArray got;
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char buf[64];
        for (int i = 0; i < 50 && !got.contains('!'); ++i) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
            else
                QTest::qWait(10);
        }
        ::close(master);
        QCOMPARE(got, QByteArray("K 1\r\n!"));
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
