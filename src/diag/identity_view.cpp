#include "diag/identity_view.h"

#include <QLabel>
#include <QVBoxLayout>

namespace gp {

IdentityView::IdentityView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame20"));
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(4, 4, 4, 4);
    // Shown until the first identity arrives.
    const char* initial[5] = {
        "Unique ID:", "Firmware Version:", "Product Type:", "S/N:", "Date Code:"};
    for (int i = 0; i < 5; ++i) {
        Label10[i] = new QLabel(QString::fromLatin1(initial[i]), this);
        Label10[i]->setObjectName(QStringLiteral("Label10_%1").arg(i));
        Label10[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Label10[i]->setTextFormat(Qt::PlainText);
        l->addWidget(Label10[i]);
    }
    l->addStretch(1);
}

void IdentityView::showIdentity(const IdentityLines& lines) {
    Label10[0]->setText(lines.uniqueId);
    Label10[1]->setText(lines.firmwareVersion);
    Label10[2]->setText(lines.productType);
    if (lines.serialVisible) {
        Label10[3]->setText(lines.serialNumber);
        Label10[4]->setText(lines.dateCode);
    }
    Label10[3]->setVisible(lines.serialVisible);
    Label10[4]->setVisible(lines.serialVisible);
}

void IdentityView::refresh() {
    showIdentity(ShowIdentity(ctx_.link.state, ctx_.lang));
}

} // namespace gp
