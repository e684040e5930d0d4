// Why a port would not open, told apart: in use by another program (named
// by its lock file), no permission, or no such device.
#include "platform/qt_serial_port.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using namespace gp;

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

    void permissionKeepsTheDialoutHint() {
        const QString said =
            describePortError("ttyS0", PortError::PermissionDenied, "Permission denied");
        QVERIFY(said.contains("dialout"));
    }
};

QTEST_GUILESS_MAIN(TestPortOpenErrors)
#include "test_port_open_errors.moc"
