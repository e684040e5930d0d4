#pragma once
// The firmware tools on the diagnostics view and the Tools menu actions.

#include "app/app_context.h"

#include <QWidget>

class QCheckBox;

namespace gp {

class FlashToolsView : public QWidget {
    Q_OBJECT
  public:
    FlashToolsView(AppContext& ctx, QWidget* parent = nullptr);

    // Tools menu entries.
    void firmwareUpdate();
    void profileChange();
    void lowLevelFlash();

  private:
    bool confirmed();

    AppContext& ctx_;
    QCheckBox* noLogo_;
};

} // namespace gp
