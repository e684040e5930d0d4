// The backup a firmware update writes before the boot loader, and the checks
// it makes first: the image against the chip's flash, the tool's version.
#include "flash/backup_restore.h"
#include "flash/firmware_backup.h"
#include "unit/chips.h"

#include "sim/boot_monitor.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <optional>
#include <thread>
#include <vector>

using namespace gp;

namespace {
QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return f.fileName();
}

DeviceState unitState(const QString& firstIdPart) {
    DeviceState s;
    s.IdentStrings = {firstIdPart, "00000000", "12345678", "FFFFFFFF", ""};
    for (int r = 0; r < 256; ++r)
        s.RegCache[size_t(r)] = int32_t(uint32_t(r) * 0x01010101u);
    for (int w = 0; w < 128; ++w)
        s.LRegCache[size_t(w)] = 0x5A000000 | w;
    return s;
}
} // namespace

class TestFirmwareBackup : public QObject {
    Q_OBJECT
  private slots:
    void flashSizeFromTheChipId_data() {
        QTest::addColumn<int>("chipId");
        QTest::addColumn<int>("bytes");
        QTest::newRow("SAM3N2B") << 0x29490760 << 128 * 1024;
        QTest::newRow("SAM4S2B") << 0x289B07E0 << 128 * 1024;
        QTest::newRow("a 256 KiB part") << 0x29A70960 << 256 * 1024;
        QTest::newRow("not read: the family's 128 KiB") << 0 << 128 * 1024;
    }
    void flashSizeFromTheChipId() {
        QFETCH(int, chipId);
        QFETCH(int, bytes);
        QCOMPARE(unit::flashBytesOfChip(chipId), bytes);
    }

    void imageChecks_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expect"); // empty: accepted
        QTest::newRow("sample image") << "ok"
                                      << "";
        QTest::newRow("exactly the flash") << "full"
                                           << "";
        QTest::newRow("one byte more than the flash") << "over"
                                                      << "131073 bytes, more than";
        QTest::newRow("empty") << "empty"
                               << "is empty";
        QTest::newRow("missing") << "missing"
                                 << "cannot be read";
        QTest::newRow("a folder") << "folder"
                                  << "cannot be read";
    }
    void imageChecks() {
        QFETCH(QString, kind);
        QFETCH(QString, expect);
        QTemporaryDir dir;
        QString path;
        if (kind == "ok")
            path = write(dir, "fw.bin", sim::sampleFirmwareImage(300));
        else if (kind == "full")
            path = write(dir, "fw.bin", QByteArray(128 * 1024, '\x11'));
        else if (kind == "over")
            path = write(dir, "fw.bin", QByteArray(128 * 1024 + 1, '\x11'));
        else if (kind == "empty")
            path = write(dir, "fw.bin", QByteArray());
        else if (kind == "missing")
            path = dir.filePath("nothing.bin");
        else
            path = dir.path();
        const QString why = flash::checkFirmwareImage(path, 0x29490760).error();
        if (expect.isEmpty())
            QVERIFY2(why.isEmpty(), qPrintable(why));
        else
            QVERIFY2(why.contains(expect), qPrintable(why));
    }

    void toolVersionLine() {
        QCOMPARE(flash::toolVersionFrom({"Usage: bossac [OPTION...] [FILE]",
                                         "Basic Open Source SAM-BA Application (BOSSA) Version "
                                         "1.9.1",
                                         "Flash programmer for Atmel SAM devices."}),
                 QString("Basic Open Source SAM-BA Application (BOSSA) Version 1.9.1"));
        QCOMPARE(flash::toolVersionFrom({"something else"}), QString());
    }

    // Backups are found by the unit's id, newest first; those of other units
    // and of another folder are not offered.
    void newestBackupOfTheUnit() {
        QTemporaryDir dir;
        const DeviceState a = unitState("0A1B2C3D");
        const DeviceState b = unitState("99999999");
        const QDateTime t0(QDate(2026, 12, 1), QTime(9, 0));
        const auto first = flash::writeBackup(a, dir.path(), t0);
        const auto second = flash::writeBackup(a, dir.path(), t0); // the same second
        const auto newest = flash::writeBackup(a, dir.path(), t0.addDays(2));
        QVERIFY(flash::writeBackup(b, dir.path(), t0.addDays(5)));
        QVERIFY2(second && newest, qPrintable(second.error() + newest.error()));
        QVERIFY(first && second->cfg != first->cfg); // never replaces an earlier backup
        QVERIFY(second->cfg.endsWith("-20261201-090000-2.cfg"));
        QCOMPARE(flash::newestBackup(dir.path(), flash::uniqueIdOf(a))->cfg, newest->cfg);
        QCOMPARE(flash::newestBackup(dir.path(), flash::uniqueIdOf(a))->lgo, newest->lgo);
        QVERIFY(!flash::newestBackup(dir.path(), QString()));
        QVERIFY(!flash::newestBackup(dir.filePath("elsewhere"), flash::uniqueIdOf(a)));

        const flash::BackupContent back = flash::readBackup(newest->cfg, newest->lgo);
        QVERIFY2(back.ok(), qPrintable(back.error));
        QCOMPARE(back.registers, a.RegCache);
        QCOMPARE(back.uniqueId, QString("0A1B2C3D-00000000-12345678-FFFFFFFF"));
        QVERIFY(back.logo);
        QCOMPARE((*back.logo)[127], 0x5A00007F);
    }

    // Several units on one bench share a unique id only in simulation, but
    // one run backs them up at once: no two may end in the same file.
    void backupsWrittenAtOnceNeverShareAName() {
        QTemporaryDir dir;
        const DeviceState a = unitState("0A1B2C3D");
        const QDateTime t0(QDate(2026, 12, 1), QTime(9, 0));
        constexpr int kUnits = 8;
        std::array<std::optional<flash::Backup>, kUnits> made;
        std::vector<std::thread> threads;
        for (int i = 0; i < kUnits; ++i)
            threads.emplace_back(
                [&, i] { made[size_t(i)] = flash::writeBackup(a, dir.path(), t0).toOptional(); });
        for (auto& t : threads)
            t.join();
        QSet<QString> names;
        for (const auto& b : made) {
            QVERIFY(b);
            names.insert(b->cfg);
            QVERIFY(flash::readBackup(b->cfg, b->lgo).ok());
        }
        QCOMPARE(names.size(), kUnits);
    }

    // Before a backup is written the engineer is asked, with both units named.
    void restoreAsksNamingBothUnits() {
        QTemporaryDir dir;
        const auto b = flash::writeBackup(unitState("01020304"), dir.path(),
                                          QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
        QVERIFY(b);
        const flash::BackupContent content = flash::readBackup(b->cfg, b->lgo);
        QVERIFY2(content.ok(), qPrintable(content.error));
        const QString q =
            restoreQuestion(b->cfg, content, QDateTime(QDate(2026, 1, 1), QTime(0, 0)), "ttyUSB0",
                            unitState("99999999"));
        QVERIFY2(q.contains(content.uniqueId) &&
                     q.contains(flash::uniqueIdOf(unitState("99999999"))) &&
                     q.contains("on ttyUSB0") && q.contains("and its logo"),
                 qPrintable(q));
        QVERIFY2(restoreQuestion(b->cfg, content, {}, "ttyUSB0", DeviceState())
                     .contains("the unit on ttyUSB0 (not read yet)"),
                 qPrintable(q));
    }

    void damagedBackupsAreRefused_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("expect");
        QTest::newRow("a register line missing")
            << "dropReg"
            << "lacks 1 of the 256 registers; it is not a backup of a whole unit. A firmware "
               "update writes whole backups itself; one of a unit that answers is saved with: "
               "glimmerpane-cli config save FILE --all-nonvol";
        QTest::newRow("not a configuration file") << "header"
                                                  << "not a configuration file";
        QTest::newRow("logo cut short") << "logo"
                                        << "128 logo words";
    }
    void damagedBackupsAreRefused() {
        QFETCH(QString, damage);
        QFETCH(QString, expect);
        QTemporaryDir dir;
        const auto b = flash::writeBackup(unitState("01020304"), dir.path(),
                                          QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
        QVERIFY2(b, qPrintable(b.error()));
        const QString file = damage == "logo" ? b->lgo : b->cfg;
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = f.readAll().split('\n');
        f.close();
        if (damage == "dropReg")
            lines.removeAt(40);
        else if (damage == "header")
            lines[0] = "#CFG_Format=2\r";
        else
            lines = lines.mid(0, 100);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join('\n'));
        f.close();
        const flash::BackupContent back = flash::readBackup(b->cfg, b->lgo);
        QVERIFY2(back.error.contains(expect), qPrintable(back.error));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareBackup)
#include "test_firmware_backup.moc"
