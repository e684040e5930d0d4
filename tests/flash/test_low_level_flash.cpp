// The low-level flash against the simulated unit in virtual time, with a fake
// flashing tool: the boot monitor command, the run of an edited command line
// without a shell, and the link after every way out of a run.
#include "flash/low_level_flash.h"
#include "flash_rig.h"
#include "link/codec.h"

#include <QtTest>

using namespace gp;

namespace {
enum class Ending { Success, NonZero, Missing, Stopped, WindowClosed };

// Ticks the rig and the window's 200 ms timer until the tool's run is over.
struct Clock {
    test::FlashRig& rig;
    LowLevelFlash& flash;
    int intervalMs() const { return LowLevelFlash::kTickMs; }
    void tick() { flash.tick(); }
};
} // namespace
Q_DECLARE_METATYPE(Ending)

class TestLowLevelFlash : public QObject {
    Q_OBJECT
  private slots:
    void putIntoSambaSendsTheUnitIntoItsBootMonitor() {
        test::FlashRig rig;
        LowLevelFlash flash(rig.ctx, rig.runner);
        flash.putIntoSamba();
        rig.port->advance(200);
        QCOMPARE(rig.unit->mode(), sim::SimUnit::Mode::BootMonitor);
        QCOMPARE(rig.prompts.messages, QStringList{"SAMBA: Power Cylce Device"});
        QVERIFY(rig.link.serial.isOpen()); // no reply awaited, nothing closed
    }

    void runs_data() {
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<QString>("message");
        QTest::newRow("exit 0 asks for the power cycle") << Ending::Success << "Power Cylce Device";
        QTest::newRow("non-zero exit") << Ending::NonZero << "firmware load failed";
        QTest::newRow("tool missing names the package") << Ending::Missing << "bossa-cli";
        QTest::newRow("stopped by the engineer") << Ending::Stopped << "power cycle";
        QTest::newRow("window closed mid-run") << Ending::WindowClosed << "";
    }
    void runs() {
        QFETCH(Ending, ending);
        QFETCH(QString, message);
        test::FlashRig rig;
        rig.prompts.files << "/srv/fw/unit 3.07.bin";
        rig.runner.exitCode = ending == Ending::NonZero ? 1 : 0;
        rig.runner.failToStart = ending == Ending::Missing;
        rig.runner.hang = ending == Ending::Stopped || ending == Ending::WindowClosed;
        // A batch still running must not reach the boot monitor or take the
        // port back from the tool.
        rig.link.startBatch({BuildRead(0), BuildRead(1), BuildRead(2)});
        LowLevelFlash flash(rig.ctx, rig.runner);
        flash.browse();
        QCOMPARE(rig.prompts.filters, QStringList{"Sensor Firmware{*.bin)|*.bin"});
        // Edited by the engineer: -e taken out, quoting of their own.
        const QString line = "bossac -w -u -b -v --usb-port=0 -p/dev/ttySIM0 "
                             "'/srv/fw/unit 3.07.bin'";
        QVERIFY(flash.execute(line));
        QVERIFY(!rig.link.busy());
        QCOMPARE(rig.runner.program, QString("bossac"));
        QCOMPARE(rig.runner.arguments, QStringList({"-w", "-u", "-b", "-v", "--usb-port=0",
                                                    "-p/dev/ttySIM0", "/srv/fw/unit 3.07.bin"}));
        if (ending != Ending::Missing) {
            QVERIFY(flash.toolRunning());
            QVERIFY(!rig.link.serial.isOpen()); // the tool has the port
            QCOMPARE(rig.port->settings(), QString("115200,n,8,1"));
            QVERIFY(!flash.execute(line)); // one run at a time
        }
        if (ending == Ending::Stopped)
            flash.stopTool();
        if (ending == Ending::WindowClosed)
            flash.abandon();
        Clock clock{rig, flash};
        QVERIFY(rig.run(
            clock, [&] { return !flash.toolRunning(); }, 10000));
        rig.run(
            clock, [] { return false; }, 400); // the tick that ends the run

        if (message.isEmpty()) {
            QVERIFY(rig.prompts.messages.isEmpty());
        } else {
            QCOMPARE(rig.prompts.messages.size(), 1);
            QVERIFY2(rig.prompts.messages.first().contains(message),
                     qPrintable(rig.prompts.messages.first()));
        }
        if (ending == Ending::Success) {
            QCOMPARE(rig.link.progress.state().fraction, 0.5); // "(12/24 pages)"
        }
        // Every way out leaves the link usable.
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(!rig.link.serial.BootProbe);
        QVERIFY(rig.link.serial.isOpen());
    }

    // Lines that cannot run are refused before the port is touched; without
    // a chosen image nothing happens at all.
    void linesThatDoNotRun_data() {
        QTest::addColumn<bool>("fileChosen");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file chosen") << false << "bossac -w -u -p/dev/ttySIM0 \"x\""
                                        << "";
        QTest::newRow("empty line") << true << "   "
                                    << "empty";
        QTest::newRow("unclosed quote") << true << "bossac -w \"/srv/fw/a.bin"
                                        << "quote";
    }
    void linesThatDoNotRun() {
        QFETCH(bool, fileChosen);
        QFETCH(QString, line);
        QFETCH(QString, message);
        test::FlashRig rig;
        if (fileChosen)
            rig.prompts.files << "/srv/fw/a.bin";
        LowLevelFlash flash(rig.ctx, rig.runner);
        flash.browse();
        QVERIFY(!flash.execute(line));
        QCOMPARE(rig.runner.starts, 0);
        QCOMPARE(rig.prompts.messages.join("").contains(message), true);
        QCOMPARE(rig.prompts.messages.isEmpty(), message.isEmpty());
        QVERIFY(rig.link.serial.isOpen());
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
    }

    void builtLineUsesTheChosenImageAndThePort() {
        test::FlashRig rig;
        LowLevelFlash flash(rig.ctx, rig.runner);
        QCOMPARE(flash.buildShellCommand({}),
                 QString("bossac -w -e -u -b -v --usb-port=0 -p/dev/ttySIM0 \"\""));
        rig.prompts.files << "/srv/fw/unit 3.07.bin";
        flash.browse();
        QCOMPARE(flash.buildShellCommand({}),
                 QString("bossac -w -e -u -b -v --usb-port=0 -p/dev/ttySIM0 "
                         "\"/srv/fw/unit 3.07.bin\""));
        flash.browse(); // cancelled: no image any more
        QVERIFY(flash.firmwarePath().isEmpty());
    }

    // The line the window builds, run as it stands, hands the tool the port
    // as one word and the image as a file, whatever their names hold.
    void builtLineRunsWithTheWordsMeant() {
        test::FlashRig rig;
        rig.link.serial.choosePort(QStringLiteral("/tmp/my unit -R --erase"));
        LowLevelFlash flash(rig.ctx, rig.runner);
        rig.prompts.files << "-R.bin";
        flash.browse();
        QVERIFY(flash.execute(flash.buildShellCommand({})));
        QCOMPARE(rig.runner.program, QString("bossac"));
        QCOMPARE(rig.runner.arguments, QStringList({"-w", "-e", "-u", "-b", "-v", "--usb-port=0",
                                                    "-p/tmp/my unit -R --erase", "./-R.bin"}));
        Clock clock{rig, flash};
        QVERIFY(rig.run(clock, [&] { return !flash.toolRunning(); }));
    }
};

QTEST_GUILESS_MAIN(TestLowLevelFlash)
#include "test_low_level_flash.moc"
