#pragma once
// The traffic log on screen: every line the link logs, with the time it came
// (shown as milliseconds since the port was opened, as the wall clock, or not
// at all), and the engineer's tools to keep it: Save as..., Copy, Clear.

#include "platform/result.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class QAction;
class QTimer;
class QMenu;
class QPlainTextEdit;
class QToolBar;

namespace gp {

class Prompts;

class TrafficLogView : public QWidget {
    Q_OBJECT
  public:
    enum class Stamps { None, SincePortOpened, WallClock };

    TrafficLogView(Prompts& prompts, QWidget* parent = nullptr);

    // Adds one logged line, stamped with the clock's time now.
    void append(const QString& line);
    // The port was (re)opened now: the "since" stamps count from here.
    void markPortOpened();
    void setStamps(Stamps s);
    Stamps stamps() const { return stamps_; }

    // Writes every line kept, each with its wall clock time and the
    // milliseconds since the port was opened; the file is replaced as a
    // whole or not at all.
    Status saveTo(const QString& path) const;
    // Asks for a file and saves there; says where, or why not.
    void saveAs();
    // The selection as shown, or every line when nothing is selected.
    void copy() const;
    void clear();

    // The lines reach the editor together, at most kFlushMs after they came:
    // a poll logs fifty lines a second, and laying the editor out for each
    // one cost more than the poll itself. flush() shows every line now.
    static constexpr int kFlushMs = 100;
    void flush() const;
    // The editor, with every line logged so far shown.
    QPlainTextEdit* editor() const {
        flush();
        return edit_;
    }
    QToolBar* toolBar() const { return bar_; }
    // The menu the log shows on a right click.
    QMenu* contextMenu();
    // About eight lines: the view panel above takes the rest at first.
    QSize sizeHint() const override;

    // The clock, replaceable by tests.
    // (UTC: the local time zone is looked up only for the lines shown or
    // saved with the wall clock, not for every line logged.)
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    // Told when the stamp choice changes (to remember it).
    std::function<void(Stamps)> onStampsChanged;
    // Told what a save did, for the status bar.
    std::function<void(const QString&)> onSaved;

    static QString stampsKey(Stamps s);
    static Stamps stampsFromKey(const QString& key);

  private:
    struct Entry {
        QDateTime at;
        qint64 sinceOpen; // -1 before any port was opened
        QString line;
    };
    QString shown(const Entry& e) const;
    void render();

    Prompts& prompts_;
    QPlainTextEdit* edit_ = nullptr;
    QToolBar* bar_ = nullptr;
    QAction* save_ = nullptr;
    QAction* copy_ = nullptr;
    QAction* clear_ = nullptr;
    QAction* stampActs_[3] = {};
    QList<Entry> entries_;
    mutable QStringList pending_; // shown lines not yet in the editor
    QTimer* flushTimer_ = nullptr;
    QDateTime opened_;
    Stamps stamps_ = Stamps::None;
};

} // namespace gp
