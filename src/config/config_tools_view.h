#pragma once
// Register bank and logo transfer buttons and the product configuration frame.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class ConfigToolsView : public QWidget {
    Q_OBJECT
  public:
    ConfigToolsView(AppContext& ctx, QWidget* parent = nullptr);

    // File menu entries.
    void openConfigFile();
    void saveConfigFile();

  private:
    AppContext& ctx_;
};

} // namespace gp
