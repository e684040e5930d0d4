#pragma once
// The field-bus settings frame: address, baud rate, parity, stop bits, device
// id, and its "Write" and "Service Pin" buttons.

#include "app/app_context.h"
#include "config/comms_settings.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace gp {

class CommsView : public QGroupBox {
    Q_OBJECT
  public:
    CommsView(AppContext& ctx, QWidget* parent = nullptr);

    // ReadCommsControls: the controls from the unit's registers. A register
    // in unread got no answer from the unit: its box stays empty.
    void readControls(const QList<int>& unread = {});
    // What the controls hold now.
    CommsControls controls() const;
    // Captions from the language strings.
    // A typed address the unit cannot take is refused with a message
    // (rather than the old address being written back silently).
    bool checkAddress();
    void applyLanguage();

  private:
    AppContext& ctx_;
    QLabel* LabelAddress = nullptr;
    QLineEdit* TextAddress = nullptr;
    QComboBox* Combobaud = nullptr;
    QComboBox* ComboParity = nullptr;
    QComboBox* ComboStopbits = nullptr;
    QLabel* LabelDeviceId = nullptr;
    QLineEdit* TextDeviceId_1 = nullptr;
    QLabel* LabelAttention = nullptr;
    QPushButton* CommandWriteComms = nullptr;
    QPushButton* CmdServicePin1_1 = nullptr;
    bool deviceIdRead_ = true;
    QString autoCaption_; // what the device id box shows for automatic
};

} // namespace gp
