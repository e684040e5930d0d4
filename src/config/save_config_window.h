#pragma once
// "Save Configuration" (class Form5): the small modal window that reads every register and
// then asks where to save. It can be closed at any moment; closing abandons
// the save.

#include "app/app_context.h"
#include "config/save_config.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QTimer;

namespace gp {

class Form5 : public QDialog {
    Q_OBJECT
  public:
    Form5(AppContext& ctx, bool saveAllNonvol, QWidget* parent = nullptr);

    SaveConfig& machine() { return save_; }
    // Closing the window (Cancel, Escape, the close box) abandons the save.
    // Return does not: while the save runs no button is the default.
    void reject() override;
    // One step of the window's 200 ms timer.
    void tick();

  private:
    // The save ended without a file for a reason the engineer must see:
    // the window stays open and says so, with "Close" as the default.
    void showNotSaved();
    void setStatus(const QString& text);

    const LangDll& lang_;
    SaveConfig save_;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace gp
