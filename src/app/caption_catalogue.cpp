#include "app/caption_catalogue.h"

#include "app/lang_dll.h"

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

// The English text a caption had before any catalogue touched it, kept on
// its object under key; shown is what it shows now. Answers the text to
// show: the catalogue's for the English text's id, else the English text.
// nullopt: leave the caption alone.
std::optional<QString> captionFor(QObject* owner, const char* key, const QString& shown,
                                  const LangDll& lang) {
    const QVariant kept = owner->property(key);
    const QString english = kept.isValid() ? kept.toString() : shown;
    if (english.isEmpty())
        return std::nullopt;
    // Mnemonic marks are no part of the text ("&Quit" is "Quit").
    QString plain = english;
    plain.remove(QLatin1Char('&'));
    const std::optional<int> id = LangDll::builtInIdOf(plain);
    if (!id)
        return std::nullopt;
    const std::optional<QString> translated = lang.catalogueString(*id);
    if (!translated)
        return kept.isValid() ? std::optional<QString>(english) : std::nullopt;
    if (!kept.isValid())
        owner->setProperty(key, english);
    return translated;
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
