#include "config/comms_view.h"

namespace gp {

CommsView::CommsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FrameComms"));
}

} // namespace gp
