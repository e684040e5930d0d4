#include "flash/flash_tools_view.h"

namespace gp {

FlashToolsView::FlashToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FlashTools"));
}

void FlashToolsView::firmwareUpdate() {}
void FlashToolsView::profileChange() {}
void FlashToolsView::lowLevelFlash() {}

} // namespace gp
