// glimmerpane-cli --fast: the same file from the same unit as without it, on
// a clean line and with lost and damaged replies.

#include "support/cli_run.h"

#include <QTemporaryDir>
#include <QtTest>

using gp::test::cli;

namespace {
// The saved file without its time stamp line.
QStringList savedLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<missing>")};
    QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("# Saved:")); });
    return lines;
}
} // namespace

class TestCliFastLink : public QObject {
    Q_OBJECT
  private slots:
    void configSaveGivesTheSameFile_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("status");
        QTest::newRow("clean") << QStringList{} << 0;
        // Without --yes the register whose reply was lost is not read again:
        // nothing is saved, in either mode.
        QTest::newRow("lost reply") << QStringList{"--sim-option", "drop@40"} << 1;
        QTest::newRow("lost reply, read again")
            << QStringList{"--yes", "--sim-option", "drop@40"} << 0;
        QTest::newRow("garbage before a reply")
            << QStringList{"--sim-option", "garbage=x#!z@12"} << 0;
        QTest::newRow("split reply") << QStringList{"--sim-option", "split=4@30"} << 0;
    }
    void configSaveGivesTheSameFile() {
        QFETCH(QStringList, faults);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString ticked = dir.filePath("ticked.cfg");
        const QString fast = dir.filePath("fast.cfg");
        const QStringList common = QStringList{"--simulate", "--sim-virtual"} + faults;
        const auto a = cli(common + QStringList{"config", "save", ticked});
        const auto b = cli(QStringList{"--fast"} + common + QStringList{"config", "save", fast});
        QCOMPARE(a.status, status);
        QCOMPARE(b.status, a.status);
        QCOMPARE(b.err, a.err);
        QCOMPARE(savedLines(fast), savedLines(ticked));
    }
};

QTEST_GUILESS_MAIN(TestCliFastLink)
#include "test_cli_fast_link.moc"
