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
    void lowLevelFlash();
    // File menu entry: writes a firmware update's backup back into the unit.
    void restoreFromBackup();

  signals:
    // A guided update ended with "Update Complete": the unit runs another
    // firmware version, so its identity is worth reading again.
    void firmwareUpdated();

  private:
    AppContext& ctx_;
    QCheckBox* noLogo_;
};

} // namespace gp
