#include "flash/flash_tools_view.h"

#include "config/profile_change_window.h"
#include "flash/firmware_update_window.h"
#include "flash/low_level_flash_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>

namespace gp {

FlashToolsView::FlashToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FlashTools"));
    noLogo_ = new QCheckBox(QStringLiteral("No Logo Write"), this);
    noLogo_->setObjectName(QStringLiteral("CheckNoLogo"));
    auto* samba = new QPushButton(QStringLiteral("Samba"), this);
    samba->setObjectName(QStringLiteral("CommandSamba"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(noLogo_);
    layout->addWidget(samba);
    layout->addStretch();
    connect(samba, &QPushButton::clicked, this, &FlashToolsView::lowLevelFlash);
}

bool FlashToolsView::confirmed() {
    return ctx_.prompts.askYesNo(QString(),
                                 ctx_.text(7010, QStringLiteral("WARNING")) +
                                     QStringLiteral("\r\r") +
                                     ctx_.text(7011, QStringLiteral("Do you wish to continue?")),
                                 true, true);
}

void FlashToolsView::firmwareUpdate() {
    if (!confirmed())
        return;
    Form2 form(ctx_, noLogo_->isChecked(), window());
    form.exec();
}

void FlashToolsView::profileChange() {
    if (!confirmed())
        return;
    Form3 form(ctx_, window());
    form.exec();
}

void FlashToolsView::lowLevelFlash() {
    Form4 form(ctx_, window());
    form.exec();
}

} // namespace gp
