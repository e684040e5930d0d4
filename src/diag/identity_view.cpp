#include "diag/identity_view.h"

#include <QLabel>
#include <QVBoxLayout>

namespace gp {

IdentityView::IdentityView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame20"));
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(4, 4, 4, 4);
    for (int i = 0; i < 5; ++i) {
        Label10[i] = new QLabel(this);
        Label10[i]->setObjectName(QStringLiteral("Label10_%1").arg(i));
        Label10[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Label10[i]->setTextFormat(Qt::PlainText);
        l->addWidget(Label10[i]);
    }
    l->addStretch(1);
    applyLanguage();
}

void IdentityView::applyLanguage() {
    if (shown_) {
        refresh();
        return;
    }
    // Shown until the first identity arrives. The design-time captions
    // differ from the built-in texts ("Unique ID:" has a blank), so only a
    // catalogue's own text replaces them.
    struct Initial {
        int id;
        const char* caption;
    };
    static constexpr Initial kInitial[5] = {{2501, "Unique ID:"},
                                            {2502, "Firmware Version:"},
                                            {2500, "Product Type:"},
                                            {2503, "S/N:"},
                                            {2504, "Date Code:"}};
    for (int i = 0; i < 5; ++i)
        Label10[i]->setText(ctx_.lang.catalogueString(kInitial[i].id)
                                .value_or(QString::fromLatin1(kInitial[i].caption)));
}

void IdentityView::showIdentity(const IdentityLines& lines) {
    shown_ = true;
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

QString IdentityView::summary() const {
    QStringList shown;
    for (const QLabel* l : Label10)
        if (l->isVisibleTo(this) && !l->text().isEmpty())
            shown << l->text();
    return shown.join(QStringLiteral(", "));
}

void IdentityView::refresh() {
    showIdentity(ShowIdentity(ctx_.link.state, ctx_.lang));
}

} // namespace gp
