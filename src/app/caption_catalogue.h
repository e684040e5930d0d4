#pragma once
// Captions from the language catalogue for every window, the ones built
// without an id in mind included: a label, button, frame, tab, menu entry,
// list entry, tool tip or window title whose English text the built-in
// table has, or composes from its sentences and patterns (a message box's
// text naming a file), takes the catalogue's text. The English text is kept
// on the widget, so a catalogue loaded later (or none) finds it again. Texts
// a view sets while it is shown go through LangDll::translate themselves.

#include <QObject>

class QWidget;

namespace gp {

class LangDll;

// Gives every caption under root (root included) its catalogue text.
void applyCatalogue(QWidget* root, const LangDll& lang);

// Applies the catalogue to each widget as it is shown (dialogs and message
// boxes included). Lives as long as the main window.
class CatalogueOnShow : public QObject {
  public:
    CatalogueOnShow(const LangDll& lang, QObject* parent);
    ~CatalogueOnShow() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const LangDll& lang_;
};

} // namespace gp
