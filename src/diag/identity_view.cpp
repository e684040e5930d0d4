#include "diag/identity_view.h"

namespace gp {

IdentityView::IdentityView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame20"));
}

} // namespace gp
