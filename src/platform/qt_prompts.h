#pragma once
// Prompts as real dialogs of the desktop tool.

#include "platform/prompts.h"

class QWidget;

namespace gp {

class QtPrompts : public Prompts {
  public:
    explicit QtPrompts(QWidget* parent) : parent_(parent) {}
    bool askYesNo(const QString& title, const QString& text, bool warning, bool defaultNo) override;
    void message(const QString& title, const QString& text, MessageKind kind) override;
    QString openFile(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& filter) override;

  private:
    QWidget* parent_;
};

} // namespace gp
