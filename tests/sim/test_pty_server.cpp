// The simulated unit on a pseudo-terminal, reached the way the desktop tool
// reaches a real unit: through QSerialPort on the terminal's path, in the
// same event loop as the server.

#include "sim/pty_server.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using gp::sim::PtySimServer;

namespace {

// Sends one frame and collects what comes back until expectedLength
// characters are there or the deadline passes. The server runs in this
// event loop, so the wait must keep the loop turning.
QByteArray exchange(QSerialPort& port, const QByteArray& frame, int expectedLength,
                    int deadlineMs = 3000) {
    port.write(frame);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < expectedLength && t.elapsed() < deadlineMs) {
        QTest::qWait(2);
        got += port.readAll();
    }
    return got;
}

bool openPort(QSerialPort& port, const QString& path) {
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

} // namespace

class TestPtyServer : public QObject {
    Q_OBJECT

  private slots:
    void serialPortClientGetsTheReply();
    void clientMayCloseAndOpenAgain();
    void plainPosixClientWorksToo();
    void linkIsMadeAndRemoved();
    void linkNeverReplacesAFile();
    void droppedReplyThenAnsweredFrame();
    void vanishFailsTheClientAndReplugComesBackAtTheLink();
};

void TestPtyServer::serialPortClientGetsTheReply() {
    PtySimServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.slavePath().startsWith("/dev/"));
    QVERIFY(!server.slavePath().contains("ttyUSB") && !server.slavePath().contains("ttyACM"));
    QSerialPort port;
    QVERIFY2(openPort(port, server.slavePath()), qPrintable(port.errorString()));
    QCOMPARE(exchange(port, ":R01#", 13), QByteArray("!R013AC00010#"));
    QCOMPARE(exchange(port, ":X#", 2), QByteArray("?#"));
    QCOMPARE(server.unit().framesReceived(), quint64(2));
}

void TestPtyServer::clientMayCloseAndOpenAgain() {
    // The server keeps the terminal open itself, so a client that closes
    // the port does not break the line for the next one.
    PtySimServer server;
    QVERIFY(server.start());
    for (int round = 0; round < 3; ++round) {
        QSerialPort port;
        QVERIFY(openPort(port, server.slavePath()));
        QCOMPARE(exchange(port, ":U04#", 13), QByteArray("!U04DD000000#"));
        port.close();
        QTest::qWait(20);
    }
}

void TestPtyServer::plainPosixClientWorksToo() {
    PtySimServer server;
    QVERIFY(server.start());
    const int fd = ::open(qPrintable(server.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    QCOMPARE(::write(fd, ":S#", 3), ssize_t(3));
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < 11 && t.elapsed() < 3000) {
        QTest::qWait(5);
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
    }
    ::close(fd);
    // Nothing echoed back: only the unit's reply.
    QCOMPARE(got, QByteArray("!S00000000#"));
}

void TestPtyServer::linkIsMadeAndRemoved() {
    QTemporaryDir dir;
    const QString link = dir.filePath("unit");
    QVERIFY(QFile::link("/nonexistent/stale-terminal", link)); // left by a crashed run
    {
        PtySimServer server;
        QVERIFY2(server.start(link), qPrintable(server.errorString()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), server.slavePath());
        QSerialPort port;
        QVERIFY(openPort(port, link));
        QCOMPARE(exchange(port, ":R21#", 13), QByteArray("!R2101000000#"));
    }
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
}

void TestPtyServer::linkNeverReplacesAFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("precious");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    PtySimServer server;
    QVERIFY(!server.start(path));
    QVERIFY(server.errorString().contains("precious"));
    QVERIFY(!server.isRunning());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

void TestPtyServer::droppedReplyThenAnsweredFrame() {
    PtySimServer server;
    QVERIFY(server.start());
    QVERIFY(server.arm("drop@1"));
    QVERIFY(server.arm("garbage=zz@2"));
    QSerialPort port;
    QVERIFY(openPort(port, server.slavePath()));
    QCOMPARE(exchange(port, ":R21#", 13, 300), QByteArray());
    QCOMPARE(exchange(port, ":R21#", 15), QByteArray("zz!R2101000000#"));
}

void TestPtyServer::vanishFailsTheClientAndReplugComesBackAtTheLink() {
    QTemporaryDir dir;
    const QString link = dir.filePath("unit");
    PtySimServer server;
    QVERIFY(server.start(link));
    QSerialPort port;
    QVERIFY(openPort(port, link));
    QCOMPARE(exchange(port, ":R21#", 13), QByteArray("!R2101000000#"));
    server.vanish();
    QVERIFY(!QFileInfo(link).isSymLink());
    // A hung-up terminal reads as end of file, which QSerialPort reports as
    // a read error; a write then fails with a resource error (EIO), as after
    // a USB adapter has been pulled out.
    port.write(":R21#");
    QTRY_VERIFY_WITH_TIMEOUT(
        port.error() == QSerialPort::ReadError || port.error() == QSerialPort::ResourceError, 3000);
    port.close();
    QVERIFY(server.replug());
    QCOMPARE(QFileInfo(link).symLinkTarget(), server.slavePath());
    QVERIFY(openPort(port, link));
    QCOMPARE(exchange(port, ":R21#", 13), QByteArray("!R2101000000#"));
}

QTEST_GUILESS_MAIN(TestPtyServer)
#include "test_pty_server.moc"
