// glimmerpane-sim as a program: it prints the terminal's path, serves the
// unit there, arms faults from its options and leaves cleanly on SIGTERM.

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString simProgram() {
    const QString dir = qEnvironmentVariableIsSet("GP_BUILD_DIR")
                            ? qEnvironmentVariable("GP_BUILD_DIR")
                            : QCoreApplication::applicationDirPath();
    return dir + QStringLiteral("/glimmerpane-sim");
}

// Sends one frame on a raw terminal and reads until `length` characters or
// the deadline.
QByteArray exchange(const QString& path, const QByteArray& frame, int length) {
    const int fd = ::open(qPrintable(path), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return "(cannot open)";
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    [[maybe_unused]] const auto w = ::write(fd, frame.constData(), size_t(frame.size()));
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < length && t.elapsed() < 3000) {
        QTest::qWait(5);
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
    }
    ::close(fd);
    return got;
}

} // namespace

class TestGlimmerpaneSim : public QObject {
    Q_OBJECT

  private slots:
    void servesUntilTerminatedAndRemovesItsLink();
    void profileAndFaultOptionsReachTheUnit();
    void badOptionsAreUsageErrors_data();
    void badOptionsAreUsageErrors();
    void helpDescribesTheOptions();
    void sigusr1PowerCyclesTheUnit();
};

void TestGlimmerpaneSim::servesUntilTerminatedAndRemovesItsLink() {
    QTemporaryDir dir;
    const QString link = dir.filePath("unit");
    QProcess sim;
    sim.start(simProgram(), {"--link", link});
    QVERIFY2(sim.waitForReadyRead(5000), qPrintable(sim.errorString()));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(path.startsWith("/dev/"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);
    QCOMPARE(exchange(link, ":R01#", 13), QByteArray("!R013AC00010#"));
    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestGlimmerpaneSim::profileAndFaultOptionsReachTheUnit() {
    QProcess sim;
    sim.start(simProgram(), {"--chip", "sam4s2b", "--firmware", "105", "--layout", "2", "--fault",
                             "garbage=zz@2"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QCOMPARE(exchange(path, ":U05#", 13), QByteArray("!U05E1079B28#"));
    QCOMPARE(exchange(path, ":U04#", 15), QByteArray("zz!U0469000000#"));
    QCOMPARE(exchange(path, ":R00#", 13), QByteArray("!R0002010002#"));
    ::kill(pid_t(sim.processId()), SIGINT);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

void TestGlimmerpaneSim::badOptionsAreUsageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown chip") << QStringList{"--chip", "sam7x"};
    QTest::newRow("unknown fault") << QStringList{"--fault", "explode"};
    QTest::newRow("application id beyond 15") << QStringList{"--app-id", "16"};
    QTest::newRow("serial number without letter") << QStringList{"--serial", "48225"};
    QTest::newRow("stray argument") << QStringList{"extra"};
    QTest::newRow("automatic power cycle without a quiet time")
        << QStringList{"--auto-power-cycle", "0"};
}

void TestGlimmerpaneSim::badOptionsAreUsageErrors() {
    QFETCH(QStringList, args);
    QProcess sim;
    sim.start(simProgram(), args);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    QVERIFY(!sim.readAllStandardError().isEmpty());
}

void TestGlimmerpaneSim::helpDescribesTheOptions() {
    QProcess sim;
    sim.start(simProgram(), {"--help"});
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    const QByteArray help = sim.readAllStandardOutput();
    for (const char* option : {"--link", "--chip", "--fault", "--features", "--serial",
                               "--auto-power-cycle", "--boot-waits-for-power-cycle"})
        QVERIFY2(help.contains(option), option);
}

// A boot loader that waits for a power cycle (SAM3N2B) answers only after
// SIGUSR1; with boot-from-flash cleared on entry, the unit comes up in its
// boot loader again and answers none of the firmware's frames.
void TestGlimmerpaneSim::sigusr1PowerCyclesTheUnit() {
    QProcess sim;
    sim.start(simProgram(), {"--boot-waits-for-power-cycle"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QCOMPARE(exchange(path, ":R01#", 13), QByteArray("!R013AC00010#"));
    exchange(path, ":SAMBA#", 0);
    QCOMPARE(exchange(path, "N#", 2), QByteArray());
    ::kill(pid_t(sim.processId()), SIGUSR1);
    QTRY_COMPARE_WITH_TIMEOUT(exchange(path, "N#", 2), QByteArray("\n\r"), 5000);
    QCOMPARE(exchange(path, ":R01#", 13), QByteArray());
    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestGlimmerpaneSim)
#include "test_glimmerpane_sim.moc"
