#pragma once
// The CO2 sensor view: live level and the sensor's settings.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class Co2View : public QWidget {
    Q_OBJECT
  public:
    Co2View(AppContext& ctx, QWidget* parent = nullptr);

  private:
    AppContext& ctx_;
};

} // namespace gp
