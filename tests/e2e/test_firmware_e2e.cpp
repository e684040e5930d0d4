// The whole guided firmware update with the real flashing tool: the program
// reads the unit, sends it into its boot monitor, runs Debian's bossac on
// glimmerpane-sim's pseudo-terminal, waits for the new firmware and writes
// the settings and the logo back. Real time, over the fast link: each frame
// leaves as soon as the reply to the one before is in, and the update moves
// on as soon as the unit answers after its start and its reset. The boot
// monitor answers as fast as the tool reads.
#include "app/app_context.h"
#include "flash/firmware_update.h"
#include "link/codec.h"
#include "platform/qt_process_runner.h"
#include "platform/qt_serial_port.h"
#include "support/scripted_prompts.h"
#include "support/sim_process.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace gp;

namespace {

// The fast link on a real port: the link asks for its advance after the
// unit's turnaround, a timer in the event loop that runUntil() spins runs it.
struct FastLink {
    explicit FastLink(Link& link) {
        link.setFast(true);
        link.scheduleAdvance = [this, &link](int gapMs) {
            QTimer::singleShot(gapMs, Qt::PreciseTimer, &context, [&link] { link.advanceNow(); });
        };
    }
    QObject context; // declared after the link: gone first, with its timers
};

// Runs the poll cycle every 20 ms and the machine at its own interval until
// done() or the time-out. An event loop, not a loop of short waits: the fast
// link's advances and the port's arrivals are handled as they come.
bool runUntil(Link& link, FirmwareUpdate* machine, const std::function<bool()>& done,
              int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(PollCycle::kTickMs);
    QElapsedTimer clock;
    clock.start();
    qint64 nextMachineTick = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        link.tick();
        if (machine && clock.elapsed() >= nextMachineTick) {
            machine->tick();
            nextMachineTick = clock.elapsed() + machine->intervalMs();
        }
        if (done() || clock.elapsed() >= timeoutMs)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

struct Snapshot {
    std::array<int32_t, 256> regs{};
    std::array<int32_t, 128> logo{};
    int32_t firmware = 0;
};

// Everything the unit holds, read over the link.
bool readBack(Link& link, Snapshot& out) {
    QStringList frames;
    for (int r = 0; r < 256; ++r)
        frames << BuildRead(r);
    frames << BuildItemRead('U', 4);
    link.startBatch(frames);
    if (!runUntil(
            link, nullptr, [&] { return !link.busy(); }, 60000) ||
        link.poll.CmdQueuePos != -1 || link.poll.stats().lost != 0)
        return false;
    frames.clear();
    for (int w = 0; w < 128; ++w)
        frames << BuildLRead(w);
    link.startBatch(frames);
    if (!runUntil(
            link, nullptr, [&] { return !link.busy(); }, 60000) ||
        link.poll.CmdQueuePos != -1 || link.poll.stats().lost != 0)
        return false;
    out.regs = link.state.RegCache;
    std::copy_n(link.state.LRegCache.begin(), 128, out.logo.begin());
    out.firmware = link.state.FirmwareVersion;
    return true;
}

} // namespace

class TestFirmwareE2e : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true); // backups go to a test folder
    }

    void guidedUpdateWithRealBossacKeepsSettingsAndLogo_data() {
        QTest::addColumn<QString>("chip");
        QTest::newRow("SAM3N2B") << "sam3n2b";
        QTest::newRow("SAM4S2B") << "sam4s2b";
    }
    void guidedUpdateWithRealBossacKeepsSettingsAndLogo() {
        QFETCH(QString, chip);
        if (QStandardPaths::findExecutable("bossac").isEmpty())
            QSKIP("bossac (package bossa-cli) is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath("unit fw 3.07.bin"); // a path with spaces
        QProcess writer;
        writer.start(test::programPath("glimmerpane-sim"),
                     {"--write-image", image, "--image-version", "307"});
        QVERIFY(writer.waitForFinished(10000) && writer.exitCode() == 0);

        test::SimProcess sim({"--chip", chip, "--firmware", "221", "--auto-power-cycle", "400",
                              "--fast-boot-monitor"});
        QVERIFY2(!sim.path().isEmpty(), "glimmerpane-sim did not print its terminal");
        Link link;
        FastLink fast(link);
        link.serial.setPort(std::make_unique<QtSerialPort>());
        QVERIFY(link.serial.choosePort(sim.path()));

        // Settings and a logo of this unit's own, so that the defaults of a
        // blank unit cannot pass for them.
        QStringList frames;
        for (int r = 0x22; r < 0x40; ++r)
            frames << BuildItemWrite('W', r, 0x01020304 * r);
        for (int w = 0; w < 128; w += 5)
            frames << BuildItemWrite('L', w, 0x5A000000 | w);
        frames << BuildSystem("P");
        link.startBatch(frames);
        QVERIFY(runUntil(
            link, nullptr, [&] { return !link.busy(); }, 60000));
        Snapshot before;
        QVERIFY(readBack(link, before));
        QCOMPARE(before.firmware, 221);

        Persist persist(dir.filePath("h7.ini"));
        LangDll lang;
        test::ScriptedPrompts prompts;
        prompts.files << image;
        ViewTabs tabs(link);
        AppContext ctx{link, persist, lang, prompts, tabs, OperatingMode{}, -1};
        QtProcessRunner runner;
        FirmwareUpdate update(ctx, runner);
        update.backupFolder = dir.filePath("backups");
        QStringList toolLines;
        update.onToolLine = [&](const QString& l) { toolLines << l; };
        update.clickButton();
        QVERIFY(runUntil(
            link, &update, [&] { return update.finished(); }, 300000));
        QVERIFY2(update.succeeded(),
                 qPrintable(update.stepText() + " | " + prompts.messages.join(" | ") + " | " +
                            prompts.asked.join(" | ") + " | " + toolLines.join(" / ")));
        QCOMPARE(update.stepText(), QString("Update Complete"));
        QVERIFY(toolLines.contains("Verify successful"));
        QVERIFY(prompts.asked.isEmpty());
        QCOMPARE(link.serial.port()->settings(), QString("9600,n,8,1"));
        QVERIFY(!link.serial.BootProbe);

        Snapshot after;
        QVERIFY(readBack(link, after));
        QCOMPARE(after.firmware, 307);
        for (int r = 0; r < 256; ++r)
            QVERIFY2(after.regs[r] == before.regs[r], qPrintable(QString("register %1").arg(r)));
        for (int w = 0; w < 128; ++w)
            QVERIFY2(after.logo[w] == before.logo[w], qPrintable(QString("logo word %1").arg(w)));
    }

    // A unit whose flash region was locked (the low-level window's "Lock"):
    // the guided update fails in the tool's erase, with the unit in its boot
    // loader and the backup named. A run of the tool that only unlocks
    // clears the lock, and the next Start finds the unit silent, takes its
    // backup, flashes and writes the settings back.
    void lockedRegionThenUnlockOnlyRunThenUpdateSucceeds() {
        const QString bossac = QStandardPaths::findExecutable("bossac");
        if (bossac.isEmpty())
            QSKIP("bossac (package bossa-cli) is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath("fw.bin");
        QProcess writer;
        writer.start(test::programPath("glimmerpane-sim"),
                     {"--write-image", image, "--image-version", "307"});
        QVERIFY(writer.waitForFinished(10000) && writer.exitCode() == 0);
        test::SimProcess sim({"--chip", "sam4s2b", "--firmware", "221", "--boot-fault",
                              "region-locked", "--auto-power-cycle", "400", "--fast-boot-monitor"});
        QVERIFY(!sim.path().isEmpty());
        Link link;
        FastLink fast(link);
        link.serial.setPort(std::make_unique<QtSerialPort>());
        QVERIFY(link.serial.choosePort(sim.path()));
        link.startBatch({BuildItemWrite('W', 0x25, 0x12345678), BuildSystem("P")});
        QVERIFY(runUntil(
            link, nullptr, [&] { return !link.busy(); }, 30000));

        Persist persist(dir.filePath("h7.ini"));
        LangDll lang;
        test::ScriptedPrompts prompts;
        prompts.files << image << image;
        ViewTabs tabs(link);
        AppContext ctx{link, persist, lang, prompts, tabs, OperatingMode{}, -1};
        QtProcessRunner runner;
        FirmwareUpdate update(ctx, runner);
        update.backupFolder = dir.filePath("backups");
        update.clickButton();
        QVERIFY(runUntil(
            link, &update, [&] { return update.finished(); }, 300000));
        QCOMPARE(update.state(), FirmwareUpdate::State::Idle);
        QVERIFY(update.backup());
        QVERIFY2(prompts.messages.join("").contains(update.backup()->cfg),
                 qPrintable(prompts.messages.join(" | ")));
        QCOMPARE(link.serial.port()->settings(), QString("9600,n,8,1"));

        // The unlock-only run, as the engineer edits it in the low-level window.
        link.serial.close();
        QProcess unlock;
        unlock.start(bossac, {"-u", "--usb-port=0", "-p" + sim.path()});
        QVERIFY(unlock.waitForFinished(60000));
        QVERIFY2(unlock.exitCode() == 0, unlock.readAll().constData());
        link.serial.choosePort(sim.path());

        prompts.answers << true; // the offer of the backup
        update.clickButton();
        QVERIFY(runUntil(
            link, &update, [&] { return update.finished(); }, 300000));
        QVERIFY2(update.succeeded(),
                 qPrintable(update.stepText() + " | " + prompts.messages.join(" | ")));
        QCOMPARE(prompts.asked.size(), 1);
        link.startBatch({BuildRead(0x25), BuildItemRead('U', 4)});
        QVERIFY(runUntil(
            link, nullptr, [&] { return !link.busy(); }, 30000));
        QCOMPARE(link.state.RegCache[0x25], 0x12345678);
        QCOMPARE(link.state.FirmwareVersion, int16_t(307));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareE2e)
#include "test_firmware_e2e.moc"
