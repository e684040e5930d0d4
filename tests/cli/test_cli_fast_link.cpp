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
        // A register whose reply was lost is read again on its own (frames
        // 274 and 275, behind the whole bank); one that never answers is not
        // read again as a whole without --yes: nothing is saved, in either
        // mode.
        QTest::newRow("lost reply, read again on its own")
            << QStringList{"--sim-option", "drop@40"} << 0;
        const QStringList never{"--sim-option", "drop@40",      "--sim-option",
                                "drop@274",     "--sim-option", "drop@275"};
        QTest::newRow("reply never given") << never << 1;
        QTest::newRow("reply never given, all read again") << QStringList{"--yes"} + never << 0;
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
