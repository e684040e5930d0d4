#include "gui/traffic_log_view.h"

#include "platform/atomic_file.h"

#include "link/traffic_log.h"
#include "platform/prompts.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace gp {

namespace {
constexpr char kWallFormat[] = "yyyy-MM-dd HH:mm:ss.zzz";
} // namespace

QString TrafficLogView::stampsKey(Stamps s) {
    switch (s) {
    case Stamps::SincePortOpened:
        return QStringLiteral("ms");
    case Stamps::WallClock:
        return QStringLiteral("clock");
    case Stamps::None:
        break;
    }
    return QStringLiteral("off");
}

TrafficLogView::Stamps TrafficLogView::stampsFromKey(const QString& key) {
    if (key == QLatin1String("ms"))
        return Stamps::SincePortOpened;
    if (key == QLatin1String("clock"))
        return Stamps::WallClock;
    return Stamps::None;
}

TrafficLogView::TrafficLogView(Prompts& prompts, QWidget* parent)
    : QWidget(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("TrafficLogView"));
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushMs);
    connect(flushTimer_, &QTimer::timeout, this, &TrafficLogView::flush);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);

    bar_ = new QToolBar(this);
    bar_->setObjectName(QStringLiteral("LogToolBar"));
    bar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar_->setIconSize(QSize(12, 12));
    save_ = bar_->addAction(QStringLiteral("Save log as..."), this, &TrafficLogView::saveAs);
    save_->setObjectName(QStringLiteral("logSaveAs"));
    copy_ = bar_->addAction(QStringLiteral("Copy"), this, &TrafficLogView::copy);
    copy_->setObjectName(QStringLiteral("logCopy"));
    clear_ = bar_->addAction(QStringLiteral("Clear"), this, &TrafficLogView::clear);
    clear_->setObjectName(QStringLiteral("logClear"));
    bar_->addSeparator();

    auto* group = new QActionGroup(this);
    const char* names[3] = {"No timestamps", "Timestamps: ms since port opened",
                            "Timestamps: wall clock"};
    const char* objects[3] = {"logStampsNone", "logStampsSinceOpen", "logStampsClock"};
    auto* stampMenu = new QMenu(QStringLiteral("Timestamps"), this);
    stampMenu->setObjectName(QStringLiteral("logStampsMenu"));
    for (int i = 0; i < 3; ++i) {
        QAction* a = stampMenu->addAction(QString::fromLatin1(names[i]));
        a->setObjectName(QString::fromLatin1(objects[i]));
        a->setCheckable(true);
        group->addAction(a);
        const auto s = static_cast<Stamps>(i);
        connect(a, &QAction::triggered, this, [this, s] {
            setStamps(s);
            if (onStampsChanged)
                onStampsChanged(s);
        });
        stampActs_[i] = a;
    }
    stampActs_[0]->setChecked(true);
    auto* stampButton = new QToolButton(bar_);
    stampButton->setObjectName(QStringLiteral("logStampsButton"));
    stampButton->setText(QStringLiteral("Timestamps"));
    stampButton->setMenu(stampMenu);
    stampButton->setPopupMode(QToolButton::InstantPopup);
    bar_->addWidget(stampButton);
    l->addWidget(bar_);

    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName(QStringLiteral("MsgLog"));
    edit_->setReadOnly(true);
    edit_->setMaximumBlockCount(TrafficLog::kScreenLines);
    edit_->setMinimumHeight(60);
    edit_->setFont(QFont(QStringLiteral("Monospace"), 9));
    edit_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(edit_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = contextMenu();
        menu->exec(edit_->viewport()->mapToGlobal(at));
        menu->deleteLater();
    });
    l->addWidget(edit_, 1);
}

QMenu* TrafficLogView::contextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("logContextMenu"));
    menu->addAction(save_);
    menu->addAction(copy_);
    QAction* all = menu->addAction(QStringLiteral("Select all"), edit_, &QPlainTextEdit::selectAll);
    all->setObjectName(QStringLiteral("logSelectAll"));
    menu->addAction(clear_);
    menu->addSeparator();
    for (QAction* a : stampActs_)
        menu->addAction(a);
    return menu;
}

QSize TrafficLogView::sizeHint() const {
    const int lines = edit_->fontMetrics().lineSpacing() * 8;
    return {QWidget::sizeHint().width(), bar_->sizeHint().height() + lines + 8};
}

void TrafficLogView::append(const QString& line) {
    Entry e{clock(), -1, line};
    if (opened_.isValid())
        e.sinceOpen = opened_.msecsTo(e.at);
    entries_.append(e);
    if (entries_.size() > TrafficLog::kScreenLines)
        entries_.remove(0, entries_.size() - TrafficLog::kScreenLines);
    pending_ << shown(e);
    if (!flushTimer_->isActive())
        flushTimer_->start();
}

void TrafficLogView::flush() const {
    if (pending_.isEmpty())
        return;
    flushTimer_->stop();
    const QString lines = pending_.join(QLatin1Char('\n'));
    pending_.clear();
    edit_->appendPlainText(lines);
    edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
}

void TrafficLogView::markPortOpened() {
    opened_ = clock();
}

void TrafficLogView::setStamps(Stamps s) {
    stamps_ = s;
    stampActs_[static_cast<int>(s)]->setChecked(true);
    render();
}

QString TrafficLogView::shown(const Entry& e) const {
    switch (stamps_) {
    case Stamps::SincePortOpened:
        return (e.sinceOpen < 0 ? QStringLiteral("%1 ").arg(QStringLiteral("-"), 9)
                                : QStringLiteral("%1 ").arg(e.sinceOpen, 9)) +
               e.line;
    case Stamps::WallClock:
        return e.at.toLocalTime().toString(QString::fromLatin1(kWallFormat)) + QLatin1Char(' ') +
               e.line;
    case Stamps::None:
        break;
    }
    return e.line;
}

void TrafficLogView::render() {
    pending_.clear();
    QStringList out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_)
        out << shown(e);
    edit_->setPlainText(out.join(QLatin1Char('\n')));
    edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
}

Status TrafficLogView::saveTo(const QString& path) const {
    QByteArray out = "# time, ms since the port was opened, line\n";
    for (const Entry& e : entries_) {
        out += e.at.toLocalTime().toString(QString::fromLatin1(kWallFormat)).toUtf8() + '\t';
        out += (e.sinceOpen < 0 ? QByteArray("-") : QByteArray::number(e.sinceOpen)) + '\t';
        out += e.line.toUtf8() + '\n';
    }
    return writeFileAtomically(path, out);
}

void TrafficLogView::saveAs() {
    QString path =
        prompts_.saveFile(QStringLiteral("Save log as"), QStringLiteral("Text files{*.txt)|*.txt"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    if (const Status saved = saveTo(path); !saved) {
        prompts_.message(QStringLiteral("Save log as"), saved.error(), MessageKind::Warning);
        return;
    }
    if (onSaved)
        onSaved(QStringLiteral("Log saved to %1 (%2 lines)")
                    .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()))
                    .arg(entries_.size()));
}

void TrafficLogView::copy() const {
    flush();
    QString text = edit_->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (text.isEmpty())
        text = edit_->toPlainText();
    QApplication::clipboard()->setText(text);
}

void TrafficLogView::clear() {
    entries_.clear();
    pending_.clear();
    edit_->clear();
}

} // namespace gp
