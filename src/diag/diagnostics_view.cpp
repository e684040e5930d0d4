#include "diag/diagnostics_view.h"

namespace gp {

DiagnosticsView::DiagnosticsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("DiagnosticsPanel"));
}

} // namespace gp
