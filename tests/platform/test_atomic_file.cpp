// Replacing a file: the old one stays whole unless every byte of the new one
// reached the disk, and a failure is said, never reported as success.

#include "platform/atomic_file.h"
#include "support/small_disk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/file.h>
#include <unistd.h>

using gp::AtomicWriteFaults;
using gp::checkWritableTarget;
using gp::writeFileAtomically;

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

const QByteArray kOld("[default]\r\nPORT=ttyUSB0\r\n");

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT

  private slots:
    void newFileHoldsExactlyTheBytes();
    void failureKeepsOldFile_data();
    void failureKeepsOldFile();
    void fileSizeLimitOfTheSystemKeepsOldFile();
    void replacementKeepsModeAndFollowsLink();
    void targetCheckedBeforeWork_data();
    void targetCheckedBeforeWork();
    void staleTemporariesOfTheTargetAreRemoved();
};

void TestAtomicFile::newFileHoldsExactlyTheBytes() {
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.cfg");
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i) // more than one write of the kernel's pipe size
        bytes.append(static_cast<char>(i * 7));
    QCOMPARE(writeFileAtomically(path, bytes).error(), QString());
    QCOMPARE(readBytes(path), bytes);
    QCOMPARE(writeFileAtomically(path, QByteArray()).error(), QString());
    QCOMPARE(readBytes(path), QByteArray());
    QCOMPARE(filesIn(dir.path()), QStringList{"unit.cfg"});
}

void TestAtomicFile::failureKeepsOldFile_data() {
    QTest::addColumn<qint64>("diskFullAfter");
    QTest::addColumn<bool>("syncFails");
    QTest::addColumn<bool>("renameFails");
    QTest::addColumn<QString>("reason");
    QTest::newRow("disk full before the first byte")
        << qint64(0) << false << false << "No space left on device";
    QTest::newRow("disk full in the middle")
        << qint64(100) << false << false << "No space left on device";
    QTest::newRow("sync to the device fails") << qint64(-1) << true << false << "Input/output";
    QTest::newRow("rename fails") << qint64(-1) << false << true << "Input/output";
}

void TestAtomicFile::failureKeepsOldFile() {
    QFETCH(qint64, diskFullAfter);
    QFETCH(bool, syncFails);
    QFETCH(bool, renameFails);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    writeBytes(path, kOld);
    AtomicWriteFaults faults;
    faults.diskFullAfter = diskFullAfter;
    faults.syncFails = syncFails;
    faults.renameFails = renameFails;
    const QString error = writeFileAtomically(path, QByteArray(4000, 'x'), &faults).error();
    QVERIFY2(error.startsWith("Cannot write " + path + ": "), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(readBytes(path), kOld);
    QCOMPARE(filesIn(dir.path()), QStringList{"glimmerpane.ini"}); // no temporary left
}

// The real system, not a fault put in the way: a file size limit makes the
// kernel refuse bytes beyond it as a full disk would.
void TestAtomicFile::fileSizeLimitOfTheSystemKeepsOldFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.cfg");
    writeBytes(path, kOld);
    QString error;
    {
        gp::test::SmallDisk disk(512);
        QVERIFY(disk.active());
        error = writeFileAtomically(path, QByteArray(4096, 'N')).error();
    }
    QVERIFY2(error.startsWith("Cannot write "), qPrintable(error));
    QCOMPARE(readBytes(path), kOld);
    QCOMPARE(filesIn(dir.path()), QStringList{"unit.cfg"});
}

void TestAtomicFile::replacementKeepsModeAndFollowsLink() {
    QTemporaryDir dir;
    const QString path = dir.filePath("real.cfg");
    writeBytes(path, kOld);
    const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(path, mode));
    QVERIFY(QFile::link(path, dir.filePath("link.cfg")));
    QCOMPARE(writeFileAtomically(dir.filePath("link.cfg"), "new").error(), QString());
    QCOMPARE(readBytes(path), QByteArray("new"));
    QVERIFY(QFileInfo(dir.filePath("link.cfg")).isSymLink());
    QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), mode);
}

void TestAtomicFile::targetCheckedBeforeWork_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason"); // empty: writable
    QTest::newRow("new file in an existing folder") << "new.cfg" << QString();
    QTest::newRow("existing file") << "old.cfg" << QString();
    QTest::newRow("folder that does not exist") << "missing/new.cfg"
                                                << "does not exist";
    QTest::newRow("a folder in place of the file") << "sub"
                                                   << "Is a directory";
    QTest::newRow("read-only folder") << "locked/new.cfg"
                                      << "Permission denied";
}

void TestAtomicFile::targetCheckedBeforeWork() {
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    writeBytes(dir.filePath("old.cfg"), kOld);
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    QVERIFY(QDir(dir.path()).mkdir("locked"));
    QVERIFY(QFile::setPermissions(dir.filePath("locked"),
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (target.startsWith("locked") && ::geteuid() == 0)
        QSKIP("root may write into any folder");
    const QString error = checkWritableTarget(dir.filePath(target)).error();
    if (reason.isEmpty())
        QCOMPARE(error, QString());
    else
        QVERIFY2(error.contains(reason), qPrintable(error));
    // The check leaves nothing behind and changes nothing.
    QCOMPARE(filesIn(dir.path()), QStringList{"old.cfg"});
    QCOMPARE(readBytes(dir.filePath("old.cfg")), kOld);
    QCOMPARE(writeFileAtomically(dir.filePath(target), "x").ok(), reason.isEmpty());
}

// A writer killed before its rename (by a file-size limit, a kill -9) leaves
// its temporary file; the next write of the same target removes it. A live
// writer's file (still locked) and another target's stay.
void TestAtomicFile::staleTemporariesOfTheTargetAreRemoved() {
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.cfg");
    writeBytes(dir.filePath(".unit.cfg.deadbeef.tmp"), "half a fi");
    writeBytes(dir.filePath(".other.cfg.12345678.tmp"), "another target's");
    const QString live = dir.filePath(".unit.cfg.0badcafe.tmp");
    writeBytes(live, "being written");
    QFile held(live);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);
    QCOMPARE(writeFileAtomically(path, kOld).error(), QString());
    QCOMPARE(readBytes(path), kOld);
    QCOMPARE(filesIn(dir.path()),
             (QStringList{".other.cfg.12345678.tmp", ".unit.cfg.0badcafe.tmp", "unit.cfg"}));
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomic_file.moc"
