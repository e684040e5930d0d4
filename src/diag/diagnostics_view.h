#pragma once
// The diagnostics view: reset cause, chip, analogue channels, sensors, debug tools.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class DiagnosticsView : public QWidget {
    Q_OBJECT
  public:
    DiagnosticsView(AppContext& ctx, QWidget* parent = nullptr);

  private:
    AppContext& ctx_;
};

} // namespace gp
