// Why a port would not open, told apart: in use by another program (named
// by its lock file), no permission, or no such device.
#include "platform/qt_serial_port.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace gp;

namespace {
// A pseudo-terminal of its own: the device path of its slave side.
struct Pty {
    int master = -1;
    QString path;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() {
        if (master >= 0)
            ::close(master);
    }
};
} // namespace

class TestPortOpenErrors : public QObject {
    Q_OBJECT
  private slots:
    void classified_data() {
        QTest::addColumn<QString>("device"); // "exists", "missing"
        QTest::addColumn<QString>("lock");   // "", "self", "dead", "garbage"
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("namesHolder");
        QTest::newRow("locked by a living program") << "exists"
                                                    << "self" << int(PortError::Busy) << true;
        QTest::newRow("stale lock, device usable: held exclusively")
            << "exists"
            << "dead" << int(PortError::Busy) << false;
        QTest::newRow("unreadable lock, device usable")
            << "exists"
            << "garbage" << int(PortError::Busy) << false;
        QTest::newRow("no such device") << "missing"
                                        << "" << int(PortError::NotFound) << false;
    }
    void classified() {
        QFETCH(QString, device);
        QFETCH(QString, lock);
        QFETCH(int, expected);
        QFETCH(bool, namesHolder);
        QTemporaryDir dir;
        const QString path = dir.filePath("ttyGP0");
        if (device == "exists") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString lockDir = dir.filePath("lock");
        QVERIFY(QDir().mkpath(lockDir));
        if (!lock.isEmpty()) {
            QFile f(lockDir + "/LCK..ttyGP0");
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (lock == "self")
                f.write(QByteArray::number(::getpid()).rightJustified(10, ' ') + "\n");
            else if (lock == "dead")
                f.write("  99999999\n");
            else
                f.write("\x01\x02");
        }
        QString detail = "Permission error while locking the device";
        const PortError e =
            classifyOpenError(QSerialPort::PermissionError, path, &detail, {lockDir});
        QCOMPARE(int(e), expected);
        if (namesHolder) {
            QVERIFY2(detail.contains(QStringLiteral("(PID %1)").arg(::getpid())),
                     qPrintable(detail));
            const QString said = describePortError("ttyGP0", e, detail);
            QVERIFY2(said.contains("in use by another program") && said.contains("PID"),
                     qPrintable(said));
            QVERIFY(!said.contains("dialout"));
        }
        if (e == PortError::Busy)
            QVERIFY(!describePortError("ttyGP0", e, detail).contains("dialout"));
    }

    void lockFileNames_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("lock");
        QTest::newRow("USB adapter") << "/dev/ttyUSB0"
                                     << "LCK..ttyUSB0";
        QTest::newRow("pseudo-terminal") << "/dev/pts/6"
                                         << "LCK..pts_6";
        QTest::newRow("outside /dev") << "/tmp/x/ttyGP0"
                                      << "LCK..ttyGP0";
    }
    void lockFileNames() {
        QFETCH(QString, device);
        QFETCH(QString, lock);
        QCOMPARE(portLockFileName(device), lock);
    }

    // Another program's live lock (in the form every serial program writes,
    // the PID alone) is never taken away: the port is busy, the lock stays.
    void aLiveLockOfAnotherProgramIsNeverTaken() {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QProcess holder;
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted());
        const QString lockPath = "/var/lock/" + portLockFileName(pty.path);
        const QByteArray lock = QByteArray::number(holder.processId()).rightJustified(10) + "\n";
        QFile f(lockPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            holder.kill();
            holder.waitForFinished();
            QSKIP("the lock folder takes no lock file of ours");
        }
        f.write(lock);
        f.close();
        QtSerialPort port;
        port.setName(pty.path);
        const bool opened = port.open();
        const PortError error = port.lastError();
        const QString why = port.lastErrorText();
        QFile back(lockPath);
        const bool lockKept = back.open(QIODevice::ReadOnly) && back.readAll() == lock;
        port.close();
        QFile::remove(lockPath);
        holder.kill();
        holder.waitForFinished();
        QVERIFY(!opened);
        QCOMPARE(int(error), int(PortError::Busy));
        QVERIFY2(why.contains("sleep (PID"), qPrintable(why));
        QVERIFY(lockKept);
    }

    // One device under two names (a link and its device path, a relative
    // path) is one port: the second name finds it busy.
    void oneDeviceUnderTwoNamesIsOnePort() {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("ft/u1")));
        QVERIFY(QFile::link(pty.path, dir.filePath("ft/u1/tty")));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString relative = portDevicePath("ft/u1/tty");
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(relative, pty.path);
        QCOMPARE(portDevicePath("ttyUSB0"), QString("ttyUSB0"));

        QtSerialPort viaLink;
        viaLink.setName(dir.filePath("ft/u1/tty"));
        QVERIFY2(viaLink.open(), qPrintable(viaLink.lastErrorText()));
        QtSerialPort viaDevice;
        viaDevice.setName(pty.path);
        QVERIFY(!viaDevice.open());
        QCOMPARE(int(viaDevice.lastError()), int(PortError::Busy));
        QCOMPARE(viaLink.name(), dir.filePath("ft/u1/tty")); // shown as chosen
        viaLink.close();
        QVERIFY2(viaDevice.open(), qPrintable(viaDevice.lastErrorText()));
    }

    void permissionKeepsTheDialoutHint() {
        const QString said =
            describePortError("ttyS0", PortError::PermissionDenied, "Permission denied");
        QVERIFY(said.contains("dialout"));
    }
};

QTEST_GUILESS_MAIN(TestPortOpenErrors)
#include "test_port_open_errors.moc"
