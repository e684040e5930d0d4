#pragma once
// The field-bus settings frame: address, baud rate, parity, stop bits, device id.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class CommsView : public QWidget {
    Q_OBJECT
  public:
    CommsView(AppContext& ctx, QWidget* parent = nullptr);

  private:
    AppContext& ctx_;
};

} // namespace gp
