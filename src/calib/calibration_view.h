#pragma once
// The calibration view: screen rate, sensor trims and filters, output calibration.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class CalibrationView : public QWidget {
    Q_OBJECT
  public:
    CalibrationView(AppContext& ctx, QWidget* parent = nullptr);

  private:
    AppContext& ctx_;
};

} // namespace gp
