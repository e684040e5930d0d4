#pragma once
// The calibration view: screen refresh rate, sensor trims and filters, and
// the calibration coefficients of the four 0-10 V outputs.

#include "app/app_context.h"

#include <QWidget>
#include <array>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace gp {

class CalibrationView : public QWidget {
    Q_OBJECT
  public:
    CalibrationView(AppContext& ctx, QWidget* parent = nullptr);
    ~CalibrationView() override;

    // The completion step of the tab: every control from the device state.
    void ShowCalibration();

  private:
    AppContext& ctx_;
    QComboBox* ComboScreenRate = nullptr;
    std::array<QComboBox*, 7> Combofilter{};
    std::array<QLineEdit*, 5> TextSensorTrim{};
    QListWidget* Listcal = nullptr;
    QPushButton* CommandCalibrate_0 = nullptr;
    // Per box: it shows what was read from the unit, or the engineer changed
    // it. A box with neither holds its placeholder, which is never written.
    std::array<bool, 5> trimShown{}, trimEdited{};
    std::array<bool, 7> filterShown{}, filterEdited{};
};

} // namespace gp
