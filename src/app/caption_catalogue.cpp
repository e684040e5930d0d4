#include "app/caption_catalogue.h"

#include "app/lang_dll.h"
#include "app/trend_widget.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QWidget>

namespace gp {

namespace {

// A caption as the catalogue gave it, before a menu marked its Alt+letter
// and the "..." of an entry that opens a window.
QString withoutMarks(QString text) {
    text.remove(QLatin1Char('&'));
    if (text.endsWith(QLatin1String("...")))
        text.chop(3);
    return text;
}

// The marks a menu gave a caption after its English text was set kept on
// its new text: the "...", and the mnemonic before the same letter when the
// new text has it, else before its first letter.
QString keepMarks(const QString& shown, const QString& english, QString text) {
    const QLatin1String dots("...");
    if (shown.endsWith(dots) && !english.endsWith(dots) && !text.endsWith(dots))
        text += dots;
    const qsizetype amp = shown.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= shown.size() || text.contains(QLatin1Char('&')))
        return text;
    qsizetype at = text.indexOf(shown.at(amp + 1), 0, Qt::CaseInsensitive);
    for (qsizetype i = 0; at < 0 && i < text.size(); ++i)
        if (text.at(i).isLetter())
            at = i;
    if (at >= 0)
        text.insert(at, QLatin1Char('&'));
    return text;
}

// The English text a caption had before any catalogue touched it, kept on
// its object under key, with what the catalogue made of it under key +
// "Shown"; shown is what it shows now. A caption the program has set again
// since is English again. Answers the text to show: the catalogue's for the
// English text, else the English text. nullopt: leave the caption alone.
std::optional<QString> captionFor(QObject* owner, const char* key, const QString& shown,
                                  const LangDll& lang) {
    const QByteArray shownKey = QByteArray(key) + "Shown";
    const QVariant kept = owner->property(key);
    const bool ours =
        kept.isValid() &&
        withoutMarks(owner->property(shownKey.constData()).toString()) == withoutMarks(shown);
    const QString english = ours ? kept.toString() : shown;
    if (english.isEmpty())
        return std::nullopt;
    // Mnemonic marks are no part of a caption ("&Quit" is "Quit"); in a
    // composed text an "&" may be part of what was put in (a file name).
    QString plain = english;
    if (LangDll::builtInIdOf(QString(plain).remove(QLatin1Char('&'))))
        plain.remove(QLatin1Char('&'));
    const QString translated = lang.translate(plain);
    if (translated == plain)
        return ours ? std::optional<QString>(keepMarks(shown, english, english)) : std::nullopt;
    owner->setProperty(key, english);
    owner->setProperty(shownKey.constData(), translated);
    return keepMarks(shown, english, translated);
}

template <class Set>
void apply(QObject* owner, const char* key, const QString& shown, const LangDll& lang, Set set) {
    if (const std::optional<QString> text = captionFor(owner, key, shown, lang);
        text && *text != shown)
        set(*text);
}

void applyToWidget(QWidget* w, const LangDll& lang) {
    if (w->isWindow())
        apply(w, "gpEnglishTitle", w->windowTitle(), lang,
              [w](const QString& t) { w->setWindowTitle(t); });
    apply(w, "gpEnglishTip", w->toolTip(), lang, [w](const QString& t) { w->setToolTip(t); });
    if (auto* l = qobject_cast<QLabel*>(w))
        apply(l, "gpEnglish", l->text(), lang, [l](const QString& t) { l->setText(t); });
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        apply(b, "gpEnglish", b->text(), lang, [b](const QString& t) { b->setText(t); });
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        apply(g, "gpEnglish", g->title(), lang, [g](const QString& t) { g->setTitle(t); });
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        apply(e, "gpEnglish", e->placeholderText(), lang,
              [e](const QString& t) { e->setPlaceholderText(t); });
    else if (auto* m = qobject_cast<QMenu*>(w))
        apply(m, "gpEnglish", m->title(), lang, [m](const QString& t) { m->setTitle(t); });
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        for (int i = 0; i < c->count(); ++i) {
            const QByteArray key = "gpEnglish" + QByteArray::number(i);
            apply(c, key.constData(), c->itemText(i), lang,
                  [c, i](const QString& t) { c->setItemText(i, t); });
        }
    }
    if (auto* tabs = qobject_cast<QTabBar*>(w)) {
        for (int i = 0; i < tabs->count(); ++i) {
            const QByteArray key = "gpEnglish" + QByteArray::number(i);
            apply(tabs, key.constData(), tabs->tabText(i), lang,
                  [tabs, i](const QString& t) { tabs->setTabText(i, t); });
        }
    }
    for (QAction* a : w->actions())
        apply(a, "gpEnglish", a->text(), lang, [a](const QString& t) { a->setText(t); });
    // A plot's titles and legend are drawn, not widgets of their own.
    if (auto* plot = qobject_cast<TrendWidget*>(w))
        plot->setLanguage(lang);
}

} // namespace

void applyCatalogue(QWidget* root, const LangDll& lang) {
    if (!root)
        return;
    applyToWidget(root, lang);
    for (QWidget* w : root->findChildren<QWidget*>())
        applyToWidget(w, lang);
}

CatalogueOnShow::CatalogueOnShow(const LangDll& lang, QObject* parent)
    : QObject(parent), lang_(lang) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

CatalogueOnShow::~CatalogueOnShow() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool CatalogueOnShow::eventFilter(QObject* watched, QEvent* event) {
    // Each widget as it is shown: a window and the views on it, a view tab
    // selected, a menu opened, a list filled while it was hidden.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow())
            applyCatalogue(w, lang_); // the hidden ones too, before they show
        else
            applyToWidget(w, lang_);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace gp
