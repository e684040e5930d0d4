#pragma once
// The "Product Config" frame: feature check boxes, application id, vendor id
// and names, and "Write", which sends them all and resets the unit.

#include "app/app_context.h"
#include "config/product_config.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace gp {

class ProductConfigView : public QGroupBox {
    Q_OBJECT
  public:
    explicit ProductConfigView(AppContext& ctx, QWidget* parent = nullptr);

    // The controls as a plain value, and the other way round.
    ProductConfig gather() const;
    void show(const ProductConfig& config);
    // Fills the controls from the cached registers 01 and 04..0F.
    void showFromRegisters();

  private:
    AppContext& ctx_;
    QList<QCheckBox*> checks_;
    QComboBox* app_ = nullptr;
    QLineEdit* vendorId_ = nullptr;
    QLineEdit* vendorName_ = nullptr;
    QLineEdit* product_ = nullptr;
    // The vendor id text as last filled in from the unit's register 04.
    // The box shows the low 16 bits signed, and a write takes only 1..32656
    // from it: an id it cannot carry (40000 shows as -25536) would become 0.
    // Left as shown, the register goes back as read.
    QString vendorIdFromUnit_;
};

} // namespace gp
