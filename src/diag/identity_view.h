#pragma once
// The five identity lines of the unit on the Device view.

#include "app/app_context.h"

#include <QWidget>

namespace gp {

class IdentityView : public QWidget {
    Q_OBJECT
  public:
    IdentityView(AppContext& ctx, QWidget* parent = nullptr);

  private:
    AppContext& ctx_;
};

} // namespace gp
