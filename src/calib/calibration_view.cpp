#include "calib/calibration_view.h"

namespace gp {

CalibrationView::CalibrationView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("CalibrationPanel"));
}

} // namespace gp
