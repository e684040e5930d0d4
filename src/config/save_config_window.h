#pragma once
// "Save Configuration" (class Form5): the small modal window that reads every register and
// then asks where to save. It can be closed at any moment; closing abandons
// the save.

#include "app/app_context.h"
#include "config/save_config.h"

#include <QDialog>

class QLabel;
class QTimer;

namespace gp {

class Form5 : public QDialog {
    Q_OBJECT
  public:
    Form5(AppContext& ctx, bool saveAllNonvol, QWidget* parent = nullptr);

    SaveConfig& machine() { return save_; }
    // Closing the window (Cancel, Escape, the close box) abandons the save.
    void reject() override;

  private:
    void tick();

    SaveConfig save_;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace gp
