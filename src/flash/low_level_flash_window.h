#pragma once
// "SAMBA" (class Form4): the low-level flash window. The engineer sends the unit into its
// boot monitor, chooses the image, ticks the write options, builds the
// flashing tool's command line, may edit it, and runs it.

#include "flash/low_level_flash.h"
#include "platform/qt_process_runner.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace gp {

struct AppContext;

class Form4 : public QDialog {
    Q_OBJECT
  public:
    explicit Form4(AppContext& ctx, QWidget* parent = nullptr);
    ~Form4() override;
    LowLevelFlash& core() { return core_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    flash::WriteOptions options() const;
    void refresh();
    bool mayClose();

    AppContext& ctx_;
    QtProcessRunner runner_;
    LowLevelFlash core_;
    QPushButton* command1_;
    QLineEdit* text2_;
    QPushButton* command3_;
    QCheckBox* checkErase_;
    QCheckBox* checkVerify_;
    QCheckBox* checkBoot_;
    QCheckBox* checkBOD_;
    QCheckBox* checkBOR_;
    QCheckBox* checkLock_;
    QCheckBox* checkSecurity_;
    QPushButton* command2_;
    QLineEdit* text1_;
    QPushButton* command4_;
    QPushButton* stop_;
    QLabel* toolLine_;
};

} // namespace gp
