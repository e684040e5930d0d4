// glimmerpane-cli's profile and firmware commands against glimmerpane-sim on
// a pseudo-terminal, and the real bossac with the low-level command line.
#include "app/app_context.h"
#include "flash/bossac.h"
#include "flash/firmware_backup.h"
#include "flash/low_level_flash.h"
#include "link/codec.h"
#include "platform/qt_process_runner.h"
#include "platform/qt_serial_port.h"
#include "support/scripted_prompts.h"
#include "support/sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runProgram(const QString& program, const QStringList& args, int timeoutMs,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Run cli(const QStringList& args, int timeoutMs = 60000,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    return runProgram(gp::test::programPath(QStringLiteral("glimmerpane-cli")), args, timeoutMs,
                      env);
}

// Register 01 as the unit sends it: eight hex digits, least significant byte
// first. Empty when the unit did not answer.
QString register01(const QString& port) {
    const Run r = cli({"--port", port, "send", ":R01#"});
    static const QRegularExpression re(QStringLiteral("!R01([0-9A-F]{8})#"));
    const auto m = re.match(r.out);
    return m.hasMatch() ? m.captured(1) : QString();
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QString writeImage(const QTemporaryDir& dir, const QString& name, const QString& version) {
    const QString image = dir.filePath(name);
    const Run r = runProgram(gp::test::programPath(QStringLiteral("glimmerpane-sim")),
                             {"--write-image", image, "--image-version", version}, 10000);
    return r.status == 0 ? image : QString();
}

} // namespace

class TestCliFlash : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void profileOnTheBuiltInSimulatedUnit() {
        QTemporaryDir dir;
        const QString pro = dir.filePath("room unit.pro");
        QVERIFY(writeFile(pro, "[profile_0]\r\nname=Test\r\ncfg=0AC00300\r\n"));
        const Run r = cli({"--simulate", "--yes", "profile", pro}, 120000);
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.contains("Update Complete"));
    }

    // The profile's flags reach register 01 only when the file holds a
    // value; a bad one fails the change and leaves the register alone.
    void profileChangesRegister01_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected"); // empty: unchanged
        QTest::newRow("upper-case section, cfg only")
            << QByteArray("[PROFILE_0]\r\ncfg=0AC00300\r\n") << 0 << "0AC00300";
        QTest::newRow("cfg of seven digits")
            << QByteArray("[profile_0]\r\ncfg=0AC0030\r\n") << 1 << "";
        QTest::newRow("cfg missing") << QByteArray("[profile_0]\r\nname=x\r\n") << 1 << "";
    }
    void profileChangesRegister01() {
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        QFETCH(QString, expected);
        gp::test::SimProcess sim;
        QVERIFY2(!sim.path().isEmpty(), "glimmerpane-sim did not print its terminal");
        const QString before = register01(sim.path());
        QVERIFY(!before.isEmpty());
        QVERIFY(before != QString("0AC00300"));
        QTemporaryDir dir;
        const QString pro = dir.filePath("p.pro");
        QVERIFY(writeFile(pro, content));
        const Run r = cli({"--port", sim.path(), "--yes", "profile", pro}, 120000);
        QVERIFY2(r.status == status, qPrintable(r.out + r.err));
        QCOMPARE(register01(sim.path()), expected.isEmpty() ? before : expected);
    }

    void profileNeedsYes() {
        QTemporaryDir dir;
        const QString pro = dir.filePath("p.pro");
        QVERIFY(writeFile(pro, "[profile_0]\r\ncfg=0AC00300\r\n"));
        const Run r = cli({"--simulate", "profile", pro});
        QCOMPARE(r.status, 2);
    }

    void firmwareWithRealBossacChangesTheVersionAndKeepsRegister01() {
        if (QStandardPaths::findExecutable("bossac").isEmpty())
            QSKIP("bossac (package bossa-cli) is not installed");
        QTemporaryDir dir;
        const QString image = writeImage(dir, "fw 3.05.bin", "305");
        QVERIFY(!image.isEmpty());
        gp::test::SimProcess sim({"--chip", "sam4s2b", "--firmware", "221", "--auto-power-cycle",
                                  "400", "--fast-boot-monitor"});
        QVERIFY(!sim.path().isEmpty());
        const QString reg1 = register01(sim.path());
        QVERIFY(!reg1.isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.filePath("data")); // where the backup goes
        // The fast link: the update moves on as soon as the unit answers
        // after its start and its reset.
        const Run r =
            cli({"--port", sim.path(), "--fast", "--yes", "firmware", image}, 240000, env);
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        QVERIFY(r.out.contains("Update Complete"));
        QVERIFY2(r.out.contains("Settings and logo saved to " + dir.filePath("data")),
                 qPrintable(r.out));
        QVERIFY(r.err.contains("Verify successful")); // the tool's own output
        const Run id = cli({"--port", sim.path(), "identity"});
        QVERIFY2(id.out.contains("Firmware Version: 3.05"), qPrintable(id.out + id.err));
        QCOMPARE(register01(sim.path()), reg1);
    }

    // Without the tool on the search path the run fails before the unit
    // leaves its firmware, with the name of the package that provides it.
    // With --json each step is one object on its own line, and the last
    // line closes the run.
    void firmwareWithoutBossacNamesThePackage() {
        QTemporaryDir dir;
        const QString image = writeImage(dir, "fw.bin", "305");
        QVERIFY(!image.isEmpty());
        gp::test::SimProcess sim;
        QVERIFY(!sim.path().isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", dir.path());
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        const Run r = cli({"--port", sim.path(), "--fast", "--json", "--yes", "firmware", image},
                          120000, env);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("bossa-cli"), qPrintable(r.err));
        QVERIFY(r.err.contains("Nothing was sent to the unit"));
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 2, qPrintable(r.out));
        for (const QString& line : lines) {
            QJsonParseError e;
            QJsonDocument::fromJson(line.toUtf8(), &e);
            QVERIFY2(e.error == QJsonParseError::NoError, qPrintable(line));
        }
        // Each step by its name, with the window's words beside it.
        const QJsonDocument first = QJsonDocument::fromJson(lines.first().toUtf8());
        QCOMPARE(first["step"].toString(), QString("Reading settings"));
        QCOMPARE(first["text"].toString(), QString("Reading Current Settings...."));
        const QJsonDocument last = QJsonDocument::fromJson(lines.last().toUtf8());
        QCOMPARE(last["status"].toInt(), 1);
        QVERIFY(last["backup"].isNull());
        QVERIFY(last["unconfirmed"].isArray());
        QVERIFY(QDir(dir.filePath("data")).isEmpty());     // no backup: nothing was at risk
        QCOMPARE(register01(sim.path()).isEmpty(), false); // still runs its firmware
    }

    // "restore" writes a backup's registers and logo back into the unit it
    // came from and reports what the unit confirmed, as a load does.
    void restoreWritesTheBackupBack() {
        QTemporaryDir dir;
        gp::test::SimProcess sim;
        QVERIFY(!sim.path().isEmpty());
        gp::Link link;
        // The fast link: each frame leaves as soon as the reply to the one
        // before is in.
        QObject advances; // declared after the link: gone first, with its timers
        link.setFast(true);
        link.scheduleAdvance = [&](int gapMs) {
            QTimer::singleShot(gapMs, Qt::PreciseTimer, &advances, [&] { link.advanceNow(); });
        };
        link.serial.setPort(std::make_unique<gp::QtSerialPort>());
        QVERIFY(link.serial.choosePort(sim.path()));
        // An event loop, not a loop of short waits: the fast link's advances
        // and the port's arrivals are handled as they come.
        const auto run = [&](const QStringList& frames) {
            link.startBatch(frames);
            QEventLoop loop;
            QTimer tick;
            tick.setTimerType(Qt::PreciseTimer);
            QElapsedTimer clock;
            clock.start();
            QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
                link.tick();
                if (!link.busy() || clock.elapsed() > 60000)
                    loop.quit();
            });
            tick.start(gp::PollCycle::kTickMs);
            loop.exec();
            return !link.busy() && link.poll.stats().lost == 0;
        };
        QStringList frames;
        for (int i = 0; i < 4; ++i)
            frames << gp::BuildItemRead('U', i);
        for (int r = 0; r < 256; ++r)
            frames << gp::BuildRead(r);
        QVERIFY(run(frames));
        frames.clear();
        for (int w = 0; w < 128; ++w)
            frames << gp::BuildLRead(w);
        QVERIFY(run(frames));
        const auto backup =
            gp::flash::writeBackup(link.state, dir.path(), QDateTime::currentDateTime());
        QVERIFY2(backup, qPrintable(backup.error()));
        const int32_t reg25 = link.state.RegCache[0x25];
        const int32_t logo5 = link.state.LRegCache[5];
        QVERIFY(run({gp::BuildItemWrite('W', 0x25, reg25 ^ 0x0F0F), gp::BuildItemWrite('L', 5, 7),
                     gp::BuildSystem("P")}));
        link.serial.close();

        const Run r =
            cli({"--port", sim.path(), "--fast", "restore", backup->cfg, "--logo", backup->lgo},
                120000);
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains("The unit confirmed 255 of 255 register writes. The unit "
                                "confirmed 128 of 128 logo words."),
                 qPrintable(r.out));
        QVERIFY(link.serial.choosePort(sim.path()));
        QVERIFY(run({gp::BuildRead(0x25), gp::BuildLRead(5)}));
        QCOMPARE(link.state.RegCache[0x25], reg25);
        QCOMPARE(link.state.LRegCache[5], logo5);

        const Run bad = cli({"--port", sim.path(), "restore", dir.filePath("none.cfg")});
        QCOMPARE(bad.status, 2);
    }

    // A pipe sees each step text when it happens, not at the end of the run.
    void stepTextsReachAPipeAsTheyHappen() {
        QTemporaryDir dir;
        const QString pro = dir.filePath("p.pro");
        QVERIFY(writeFile(pro, "[profile_0]\r\ncfg=0AC00300\r\n"));
        QProcess p;
        p.start(gp::test::programPath("glimmerpane-cli"), {"--simulate", "--yes", "profile", pro});
        QVERIFY(p.waitForStarted(10000));
        QVERIFY(p.waitForReadyRead(60000));
        const QString first = QString::fromUtf8(p.readLine());
        QVERIFY2(p.state() == QProcess::Running, qPrintable(first));
        QVERIFY(first.endsWith('\n'));
        QVERIFY(p.waitForFinished(120000));
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains("Update Complete"));
    }

    // The low-level flash's own command line, split as the window runs it,
    // drives the real bossac through the unit's boot monitor.
    void lowLevelCommandLineRunsTheRealBossac_data() {
        QTest::addColumn<QString>("chip");
        QTest::newRow("SAM3N2B") << "sam3n2b";
        QTest::newRow("SAM4S2B") << "sam4s2b";
    }
    void lowLevelCommandLineRunsTheRealBossac() {
        QFETCH(QString, chip);
        if (QStandardPaths::findExecutable("bossac").isEmpty())
            QSKIP("bossac (package bossa-cli) is not installed");
        QTemporaryDir dir;
        const QString image = writeImage(dir, "low level $(touch x) 4.01.bin", "401");
        QVERIFY(!image.isEmpty());
        gp::test::SimProcess sim(
            {"--chip", chip, "--auto-power-cycle", "400", "--fast-boot-monitor"});
        QVERIFY(!sim.path().isEmpty());
        QVERIFY(cli({"--port", sim.path(), "send", ":SAMBA#"}).status != -1);

        const QString line = gp::flash::buildCommandLine({}, sim.path(), image);
        const auto words = gp::flash::splitCommandLine(line);
        QVERIFY(words && words->size() > 1);
        QCOMPARE(words->last(), image);
        const Run r =
            runProgram(QStandardPaths::findExecutable(words->first()), words->mid(1), 120000);
        QVERIFY2(r.status == 0, qPrintable(line + "\n" + r.out + r.err));
        QVERIFY(r.out.contains("Verify successful"));
        QVERIFY(!QFile::exists(dir.filePath("x")));

        // Boot from flash was set: after the power cycle (the simulated unit
        // takes a quiet line for one) it starts the new firmware, and the
        // first frames find it still starting up.
        QTest::qWait(1000);
        Run id;
        for (int i = 0; i < 5 && !id.out.contains("Firmware Version: 4.01"); ++i)
            id = cli({"--port", sim.path(), "identity"});
        QVERIFY2(id.out.contains("Firmware Version: 4.01"), qPrintable(id.out + id.err));
    }

    // The low-level flash's own steps on the program's link: ":SAMBA#"
    // through the codec, the line built from the window's defaults, the real
    // bossac run asynchronously, and the port back at the unit's settings.
    void lowLevelFlashRunsTheRealBossacOnTheLink() {
        if (QStandardPaths::findExecutable("bossac").isEmpty())
            QSKIP("bossac (package bossa-cli) is not installed");
        QTemporaryDir dir;
        const QString image = writeImage(dir, "unit 4.02.bin", "402");
        QVERIFY(!image.isEmpty());
        gp::test::SimProcess sim({"--chip", "sam4s2b", "--fast-boot-monitor"});
        QVERIFY(!sim.path().isEmpty());
        gp::Link link;
        link.serial.setPort(std::make_unique<gp::QtSerialPort>());
        QVERIFY(link.serial.choosePort(sim.path()));
        gp::Persist persist(dir.filePath("h8.ini"));
        gp::LangDll lang;
        gp::test::ScriptedPrompts prompts;
        prompts.files << image;
        gp::ViewTabs tabs(link);
        gp::AppContext ctx{link, persist, lang, prompts, tabs, gp::OperatingMode{}, -1};
        gp::QtProcessRunner runner;
        gp::LowLevelFlash flash(ctx, runner);
        QStringList toolLines;
        flash.onToolLine = [&](const QString& l) { toolLines << l; };

        QTimer ticker; // the main window's poll cycle and the window's timer
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            link.tick();
            flash.tick();
        });
        ticker.start(gp::PollCycle::kTickMs);
        flash.putIntoSamba();
        QTest::qWait(300); // the frame on its way at 9600 baud
        flash.browse();
        QVERIFY(flash.execute(flash.buildShellCommand({})));
        QTRY_VERIFY_WITH_TIMEOUT(prompts.messages.size() == 2, 120000);
        QVERIFY2(prompts.messages.value(1) == "SAMBA: Power Cylce Device",
                 qPrintable(prompts.messages.join(" | ") + " | " + toolLines.join(" / ")));
        QVERIFY(toolLines.contains("Verify successful"));
        QCOMPARE(link.serial.port()->settings(), QString("9600,n,8,1"));
        QVERIFY(link.serial.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestCliFlash)
#include "test_cli_flash.moc"
