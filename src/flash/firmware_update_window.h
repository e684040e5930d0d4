#pragma once
// "Firmware Update" (class Form2): the window around the guided update's state machine.

#include "flash/firmware_update.h"
#include "platform/qt_process_runner.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace gp {

struct AppContext;

class Form2 : public QDialog {
    Q_OBJECT
  public:
    Form2(AppContext& ctx, bool noLogo, QWidget* parent = nullptr);
    ~Form2() override;
    FirmwareUpdate& machine() { return machine_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void onTick();
    void refresh();
    bool mayClose();

    AppContext& ctx_;
    QtProcessRunner runner_;
    FirmwareUpdate machine_;
    QLabel* label1_;
    QLabel* label2_;
    QPushButton* command2_;
    QPushButton* stop_;
    QPushButton* cancel_;
    QTimer* timer_;
};

} // namespace gp
