#include "co2/co2_view.h"

namespace gp {

Co2View::Co2View(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Co2Panel"));
}

} // namespace gp
