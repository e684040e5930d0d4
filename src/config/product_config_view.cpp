#include "config/product_config_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gp {

namespace {
// What a write gives the unit: the name registers less their zero byte.
constexpr int kVendorNameChars = 31;
constexpr int kProductNameChars = 11;
} // namespace

ProductConfigView::ProductConfigView(AppContext& ctx, QWidget* parent)
    : QGroupBox(QStringLiteral("Product Config"), parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Frame5"));
    auto* grid = new QGridLayout(this);
    // Four columns of seven, bit 0 at the top left, counting down first.
    for (int i = 0; i < ProductConfig::kFeatureBits; ++i) {
        auto* c = new QCheckBox(featureCaption(i), this);
        c->setObjectName(QStringLiteral("CheckProfile_%1").arg(i));
        grid->addWidget(c, i % 7, i / 7);
        checks_ << c;
    }
    auto* form = new QGridLayout;
    app_ = new QComboBox(this);
    app_->setObjectName(QStringLiteral("ComboApp"));
    app_->addItems(applicationCaptions());
    app_->setCurrentIndex(-1);
    vendorId_ = new QLineEdit(this);
    vendorId_->setObjectName(QStringLiteral("TextVendor"));
    vendorName_ = new QLineEdit(this);
    vendorName_->setObjectName(QStringLiteral("TextVendorName"));
    vendorName_->setMaxLength(kVendorNameChars);
    product_ = new QLineEdit(this);
    product_->setObjectName(QStringLiteral("TextProduct"));
    product_->setMaxLength(kProductNameChars);
    form->addWidget(new QLabel(QStringLiteral("AppId"), this), 0, 0);
    form->addWidget(app_, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("VendorId"), this), 1, 0);
    form->addWidget(vendorId_, 1, 1);
    form->addWidget(new QLabel(QStringLiteral("Vendor"), this), 2, 0);
    form->addWidget(vendorName_, 2, 1);
    form->addWidget(new QLabel(QStringLiteral("Product"), this), 3, 0);
    form->addWidget(product_, 3, 1);
    auto* write = new QPushButton(QStringLiteral("Write"), this);
    write->setObjectName(QStringLiteral("CommandSetCfg"));
    form->addWidget(write, 4, 1);
    grid->addLayout(form, 0, 4, 7, 1);
    connect(write, &QPushButton::clicked, this, [this] {
        const ProductConfig config = gather();
        ProductFieldsGiven given{true, true, true, true, true};
        given.vendorId = vendorIdFromUnit_.isNull() || config.vendorIdText != vendorIdFromUnit_ ||
                         !ctx_.link.state.known(0x04);
        WriteProductConfig(ctx_.link, config, given);
    });
}

ProductConfig ProductConfigView::gather() const {
    ProductConfig c;
    for (int i = 0; i < checks_.size(); ++i) {
        if (checks_[i]->checkState() == Qt::Checked)
            c.features |= 1u << i;
    }
    c.appId = app_->currentIndex();
    c.vendorIdText = vendorId_->text();
    c.vendorName = vendorName_->text();
    c.productName = product_->text();
    return c;
}

void ProductConfigView::show(const ProductConfig& c) {
    vendorIdFromUnit_ = QString();
    for (int i = 0; i < checks_.size(); ++i)
        checks_[i]->setChecked((c.features >> i) & 1u);
    app_->setCurrentIndex(c.appId);
    vendorId_->setText(c.vendorIdText);
    // A unit may hold a name one character longer than a write can give
    // it (no zero byte at the end): show it whole; the write still cuts.
    vendorName_->setMaxLength(qMax(kVendorNameChars, static_cast<int>(c.vendorName.size())));
    vendorName_->setText(c.vendorName);
    product_->setMaxLength(qMax(kProductNameChars, static_cast<int>(c.productName.size())));
    product_->setText(c.productName);
}

void ProductConfigView::showFromRegisters() {
    show(productConfigFromRegisters(ctx_.link.state.RegRecord));
    vendorIdFromUnit_ = vendorId_->text();
}

} // namespace gp
