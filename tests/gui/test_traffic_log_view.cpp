// The traffic log on screen: its time stamps, and keeping it (save, copy,
// clear) from the tool bar and the context menu.
#include "gui/traffic_log_view.h"
#include "support/scripted_prompts.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolBar>
#include <QtTest>

using namespace gp;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A log view on a clock the test moves.
struct LogRig {
    test::ScriptedPrompts prompts;
    TrafficLogView view{prompts};
    QDateTime now{QDate(2026, 3, 14), QTime(9, 26, 53, 589)};
    LogRig() {
        view.clock = [this] { return now; };
    }
    void at(int ms, const QString& line) {
        now = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53, 589)).addMSecs(ms);
        view.append(line);
    }
    QStringList shown() const { return view.editor()->toPlainText().split('\n'); }
};

} // namespace

class TestTrafficLogView : public QObject {
    Q_OBJECT
  private slots:
    void stampsAsChosen_data() {
        QTest::addColumn<int>("stamps");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none") << int(TrafficLogView::Stamps::None)
                              << QStringList{"note", "[Tx] :R00#", "[Rx] :R00=07000000#"};
        QTest::newRow("ms since the port opened, none before")
            << int(TrafficLogView::Stamps::SincePortOpened)
            << QStringList{"        - note", "        - [Tx] :R00#",
                           "     1250 [Rx] :R00=07000000#"};
        QTest::newRow("wall clock")
            << int(TrafficLogView::Stamps::WallClock)
            << QStringList{"2026-03-14 09:26:53.589 note", "2026-03-14 09:26:53.689 [Tx] :R00#",
                           "2026-03-14 09:26:54.939 [Rx] :R00=07000000#"};
    }

    // Lines come in bursts (fifty a second while polling): they reach the
    // editor together, on their own within a moment, in the order logged.
    void linesReachTheEditorTogether() {
        LogRig rig;
        auto* edit = rig.view.findChild<QPlainTextEdit*>();
        for (int i = 0; i < 50; ++i)
            rig.at(i, QStringLiteral("[Tx] :R%1#").arg(i, 2, 16, QLatin1Char('0')));
        QTRY_COMPARE(edit->blockCount(), 50);
        QCOMPARE(edit->document()->findBlockByNumber(49).text(), QStringLiteral("[Tx] :R31#"));
    }

    // The choice applies to the lines already there and to those coming.
    void stampsAsChosen() {
        QFETCH(int, stamps);
        LogRig rig;
        rig.at(0, "note");
        rig.at(100, "[Tx] :R00#");
        rig.view.markPortOpened();
        rig.view.setStamps(static_cast<TrafficLogView::Stamps>(stamps));
        rig.at(1350, "[Rx] :R00=07000000#");
        QTEST(rig.shown(), "lines");
    }

    void stampsChosenFromTheMenuAreTold() {
        LogRig rig;
        QList<TrafficLogView::Stamps> told;
        rig.view.onStampsChanged = [&](TrafficLogView::Stamps s) { told << s; };
        rig.view.findChild<QAction*>("logStampsClock")->trigger();
        QCOMPARE(rig.view.stamps(), TrafficLogView::Stamps::WallClock);
        QCOMPARE(told, QList<TrafficLogView::Stamps>{TrafficLogView::Stamps::WallClock});
        QCOMPARE(TrafficLogView::stampsFromKey(TrafficLogView::stampsKey(told.first())),
                 told.first());
        QCOMPARE(TrafficLogView::stampsFromKey("garbage"), TrafficLogView::Stamps::None);
    }

    // Saved with both stamps whatever is shown, a name without suffix gets
    // ".txt", and where it went is said.
    void saveAsWritesEveryLineWithItsTimes() {
        LogRig rig;
        QTemporaryDir dir;
        rig.at(0, "before");
        rig.view.markPortOpened();
        rig.at(40, "[Tx] :R00#");
        rig.prompts.files << dir.filePath("bench");
        QString said;
        rig.view.onSaved = [&](const QString& s) { said = s; };
        rig.view.findChild<QAction*>("logSaveAs")->trigger();
        QCOMPARE(readFile(dir.filePath("bench.txt")),
                 QByteArray("# time, ms since the port was opened, line\n"
                            "2026-03-14 09:26:53.589\t-\tbefore\n"
                            "2026-03-14 09:26:53.629\t40\t[Tx] :R00#\n"));
        QVERIFY2(said.contains(dir.filePath("bench.txt")), qPrintable(said));
        QVERIFY(rig.prompts.messages.isEmpty());
    }

    // A file that cannot be written is said and the one there is kept.
    void saveIntoAFolderThatIsNotThereSaysWhy() {
        LogRig rig;
        QTemporaryDir dir;
        rig.at(0, "x");
        rig.prompts.files << dir.filePath("missing/folder/log.txt");
        bool saved = false;
        rig.view.onSaved = [&](const QString&) { saved = true; };
        rig.view.saveAs();
        QVERIFY(!saved);
        QCOMPARE(rig.prompts.messages.size(), 1);
        QVERIFY(rig.prompts.messages.first().contains("log.txt"));
    }

    void cancelledSaveWritesNothing() {
        LogRig rig;
        rig.at(0, "x");
        bool saved = false;
        rig.view.onSaved = [&](const QString&) { saved = true; };
        rig.view.saveAs();
        QVERIFY(!saved);
        QVERIFY(rig.prompts.messages.isEmpty());
    }

    void copyTakesTheSelectionOrAll() {
        LogRig rig;
        rig.at(0, "first");
        rig.at(1, "second");
        rig.view.findChild<QAction*>("logCopy")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first\nsecond"));
        QTextCursor c = rig.view.editor()->textCursor();
        c.setPosition(0);
        c.setPosition(5, QTextCursor::KeepAnchor);
        rig.view.editor()->setTextCursor(c);
        rig.view.copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first"));
    }

    void clearEmptiesScreenAndSavedLog() {
        LogRig rig;
        QTemporaryDir dir;
        rig.at(0, "old");
        rig.view.findChild<QAction*>("logClear")->trigger();
        rig.at(1, "new");
        QCOMPARE(rig.shown(), QStringList{"new"});
        QVERIFY(rig.view.saveTo(dir.filePath("l.txt")));
        QVERIFY(!readFile(dir.filePath("l.txt")).contains("old"));
    }

    // The right click offers the same tools as the tool bar.
    void contextMenuOffersTheTools() {
        LogRig rig;
        QMenu* menu = rig.view.contextMenu();
        QStringList names;
        for (const QAction* a : menu->actions())
            if (!a->isSeparator())
                names << a->objectName();
        QCOMPARE(names, (QStringList{"logSaveAs", "logCopy", "logSelectAll", "logClear",
                                     "logStampsNone", "logStampsSinceOpen", "logStampsClock"}));
        delete menu;
    }
};

QTEST_MAIN(TestTrafficLogView)
#include "test_traffic_log_view.moc"
