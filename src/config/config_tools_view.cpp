#include "config/config_tools_view.h"

namespace gp {

ConfigToolsView::ConfigToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("ConfigTools"));
}

void ConfigToolsView::openConfigFile() {}
void ConfigToolsView::saveConfigFile() {}

} // namespace gp
