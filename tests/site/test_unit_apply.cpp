// A plan row that names a firmware image and a profile, applied in virtual
// time to the simulated unit with a stand-in flashing tool: the unit is
// flashed and its profile changed only when they differ, before the
// template, and applied again nothing is flashed, changed or written.
#include "diag/identity.h"
#include "flash/flash_rig.h"
#include "link/codec.h"
#include "sim/boot_monitor.h"
#include "site/unit_apply.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"

#include <QtTest>

using namespace gp;
using namespace gp::site;

namespace {

constexpr int kUnitFirmware = 221;
// A profile value of the unit's product with another application id.
constexpr int32_t kOtherProfile = 0x0003C00A;

sim::SambaMonitor& monitorOf(sim::SimUnit& unit) {
    return dynamic_cast<sim::SambaMonitor&>(unit.bootMonitor());
}

struct Applied {
    QString result;
    QString failure;
    int flashes = 0;
    bool profileChanged = false;
    int writes = 0;
    QString firmware;
};

struct ApplyRig : test::FlashRig {
    SiteRecord record;
    SitePlan plan;

    // The unit's registers as a template (register 01 as `profile` when
    // given), and a plan of one row for this port.
    ApplyRig(const QByteArray& image, std::optional<int32_t> profile) {
        unit->setReg(0x28, 0x11223344); // a setting of this unit's own
        const int32_t own01 = unit->reg(1);
        if (profile)
            unit->setReg(1, *profile);
        readUnit();
        const QString templatePath = dir.filePath("room.cfg");
        (void)writeCfgFile(templatePath, cfgLines(link.state, false));
        unit->setReg(1, own01);
        QString columns = "port,name,template,address";
        QString values = "/dev/ttySIM0,Room 1,room.cfg,9";
        if (!image.isEmpty()) {
            writeFile("fw.bin", image);
            columns += ",firmware";
            values += ",fw.bin";
        }
        if (profile) {
            writeFile("room.pro", QStringLiteral("[profile_0]\nname=Room\ncfg=%1\n")
                                      .arg(HexLong(*profile))
                                      .toLatin1());
            columns += ",profile";
            values += ",room.pro";
        }
        plan = readPlan(writeFile("plan.csv", (columns + "\n" + values + "\n").toUtf8()));
        (void)record.open(dir.filePath("site.sqlite"));
        runner.effect = [this] {
            monitorOf(*unit).program(QFile(dir.filePath("fw.bin")).exists()
                                         ? readAll(dir.filePath("fw.bin"))
                                         : QByteArray(),
                                     true);
            unit->powerCycle(port->nowMs());
        };
    }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    void readUnit() {
        IdentityRead(link);
        runIdle();
        ReadAllRegisters(link);
        runIdle();
    }

    void runIdle() {
        for (int i = 0; i < 100000 && (i < 2 || link.busy()); ++i) {
            period();
            link.tick();
        }
    }

    Applied apply() {
        readUnit();
        const int flashesBefore = runner.starts;
        const auto framesBefore = unit->frameHistory().size();
        UnitApply a(ctx, plan, record, &runner);
        a.backupFolder = dir.filePath("backups");
        Applied out;
        if (!a.start(QStringLiteral("/dev/ttySIM0"), QStringLiteral("ann"))) {
            out.failure = a.failure();
            return out;
        }
        run(
            a, [&] { return a.finished(); }, 1800000);
        out.result = a.result();
        out.failure = a.failure();
        out.flashes = runner.starts - flashesBefore;
        out.profileChanged = unit->frameHistory().mid(framesBefore).contains(":SD#");
        out.writes = a.writes();
        out.firmware = a.visit().firmware;
        return out;
    }
};

} // namespace

class TestUnitApply : public QObject {
    Q_OBJECT
  private slots:
    void firmwareAndProfileAreBroughtToTheRows_data() {
        QTest::addColumn<int>("imageVersion"); // 0: no image; -1: an image naming none
        QTest::addColumn<bool>("profile");
        QTest::addColumn<bool>("toolFails");
        QTest::addColumn<int>("flashes");
        QTest::addColumn<bool>("profileChanged");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("firmware"); // as left
        QTest::newRow("image of other firmware: flashed")
            << 307 << false << false << 1 << false << "done"
            << "3.07";
        QTest::newRow("image of the unit's firmware: not flashed")
            << kUnitFirmware << false << false << 0 << false << "done"
            << "2.21";
        QTest::newRow("image naming no version, not in the record: flashed")
            << -1 << false << false << 1 << false << "done"
            << "1.00";
        QTest::newRow("other profile: changed") << 0 << true << false << 0 << true << "done"
                                                << "2.21";
        QTest::newRow("flashed and profile changed") << 307 << true << false << 1 << true << "done"
                                                     << "3.07";
        QTest::newRow("flashing tool fails: the unit fails, template not written")
            << 307 << true << true << 1 << false << "failed"
            << "2.21";
    }
    void firmwareAndProfileAreBroughtToTheRows() {
        QFETCH(int, imageVersion);
        QFETCH(bool, profile);
        QFETCH(bool, toolFails);
        QFETCH(int, flashes);
        QFETCH(bool, profileChanged);
        QFETCH(QString, result);
        QFETCH(QString, firmware);
        QByteArray image;
        if (imageVersion > 0)
            image = sim::sampleFirmwareImage(imageVersion, 4000);
        else if (imageVersion < 0) // the digit moved behind its end: the bytes sum the same
            image = sim::sampleFirmwareImage(0, 4000).replace(QByteArray("QRUFWVER=0\0", 11),
                                                              QByteArray("QRUFWVER=\0"
                                                                         "0",
                                                                         11));
        ApplyRig rig(image, profile ? std::optional<int32_t>(kOtherProfile) : std::nullopt);
        QVERIFY2(rig.plan.ok(), qPrintable(rig.plan.problems.value(0).text));
        if (toolFails) {
            rig.runner.exitCode = 1;
            rig.runner.effect = {};
            rig.prompts.answers << false << false << false;
        }
        const Applied first = rig.apply();
        QVERIFY2(first.result == result, qPrintable(first.failure));
        QCOMPARE(first.flashes, flashes);
        QCOMPARE(first.profileChanged, profileChanged);
        QCOMPARE(first.firmware, firmware);
        if (result == "failed") {
            QVERIFY2(first.failure.contains("firmware update failed") &&
                         first.failure.contains("template was not written"),
                     qPrintable(first.failure));
            const auto visits = rig.record.visits();
            QCOMPARE(visits->last().result, QString(kFailed));
            return;
        }
        QCOMPARE(rig.unit->reg(0x21) & 0xFF, 9);
        // The update writes the settings back; a profile change puts the
        // unit to its defaults, and the template is written over them.
        if (profile)
            QCOMPARE(rig.unit->reg(1), kOtherProfile);
        else
            QCOMPARE(rig.unit->reg(0x28), 0x11223344);
        // Again: the unit is as planned; nothing is flashed, changed or written.
        const Applied again = rig.apply();
        QCOMPARE(again.result, QString(kAlreadyAsPlanned));
        QCOMPARE(again.flashes, 0);
        QCOMPARE(again.profileChanged, false);
        QCOMPARE(again.writes, 0);
    }
};

QTEST_GUILESS_MAIN(TestUnitApply)
#include "test_unit_apply.moc"
