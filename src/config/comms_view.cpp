#include "config/comms_view.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gp {

CommsView::CommsView(AppContext& ctx, QWidget* parent)
    : QGroupBox(QStringLiteral("Comms"), parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FrameComms"));
    auto* g = new QGridLayout(this);

    LabelAddress = new QLabel(QStringLiteral("Address:"), this);
    LabelAddress->setObjectName(QStringLiteral("LabelAddress"));
    TextAddress = new QLineEdit(QStringLiteral("0"), this);
    TextAddress->setObjectName(QStringLiteral("TextAddress"));
    TextAddress->setMaxLength(8);
    Combobaud = new QComboBox(this);
    Combobaud->setObjectName(QStringLiteral("Combobaud"));
    ComboParity = new QComboBox(this);
    ComboParity->setObjectName(QStringLiteral("ComboParity"));
    ComboStopbits = new QComboBox(this);
    ComboStopbits->setObjectName(QStringLiteral("ComboStopbits"));
    LabelDeviceId = new QLabel(QStringLiteral("DeviceId"), this);
    LabelDeviceId->setObjectName(QStringLiteral("LabelDeviceId"));
    TextDeviceId_1 = new QLineEdit(QStringLiteral("0"), this);
    TextDeviceId_1->setObjectName(QStringLiteral("TextDeviceId_1"));
    LabelAttention = new QLabel(this);
    LabelAttention->setObjectName(QStringLiteral("LabelAttention"));
    LabelAttention->setWordWrap(true);
    CommandWriteComms = new QPushButton(QStringLiteral("Write"), this);
    CommandWriteComms->setObjectName(QStringLiteral("CommandWriteComms"));
    CmdServicePin1_1 = new QPushButton(QStringLiteral("Service Pin"), this);
    CmdServicePin1_1->setObjectName(QStringLiteral("CmdServicePin1_1"));

    // Each box says what it holds.
    auto label = [this](const QString& text, const char* name, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        return l;
    };
    g->addWidget(LabelAddress, 0, 0);
    g->addWidget(TextAddress, 0, 1);
    g->addWidget(label(QStringLiteral("Baud rate:"), "LabelBaud", Combobaud), 1, 0);
    g->addWidget(Combobaud, 1, 1);
    g->addWidget(label(QStringLiteral("Parity:"), "LabelParity", ComboParity), 2, 0);
    g->addWidget(ComboParity, 2, 1);
    g->addWidget(label(QStringLiteral("Stop bits:"), "LabelStopBits", ComboStopbits), 3, 0);
    g->addWidget(ComboStopbits, 3, 1);
    CommandWriteComms->setToolTip(
        QStringLiteral("Writes the address, line settings and device id shown here"));
    g->addWidget(LabelDeviceId, 4, 0);
    g->addWidget(TextDeviceId_1, 4, 1);
    g->addWidget(LabelAttention, 5, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CommandWriteComms);
    buttons->addWidget(CmdServicePin1_1);
    g->addLayout(buttons, 6, 0, 1, 2);
    g->setColumnStretch(1, 1);
    setMinimumWidth(260);

    applyLanguage();

    connect(CommandWriteComms, &QPushButton::clicked, this, [this] {
        if (checkAddress())
            writeComms(ctx_.link, controls());
    });
    connect(CmdServicePin1_1, &QPushButton::clicked, this, [this] { sendServicePin(ctx_.link); });
}

bool CommsView::checkAddress() {
    if (addressAccepted(TextAddress->text()))
        return true;
    ctx_.prompts.message(QStringLiteral("Address"),
                         QStringLiteral("\"%1\" is not an address: enter a number from 0 to %2. "
                                        "Nothing was written.")
                             .arg(TextAddress->text())
                             .arg(kMaxAddress),
                         MessageKind::Warning);
    TextAddress->setFocus();
    TextAddress->selectAll();
    return false;
}

void CommsView::applyLanguage() {
    setTitle(ctx_.text(5018, title()));
    LabelAddress->setText(ctx_.text(5024, QStringLiteral("Address")) + ':');
    LabelDeviceId->setText(ctx_.text(5027, LabelDeviceId->text()));
    LabelAttention->setText(ctx_.text(5025, QString()));
    CmdServicePin1_1->setText(ctx_.text(5026, CmdServicePin1_1->text()));
    CommandWriteComms->setText(ctx_.text(110, CommandWriteComms->text()));
    // The device id box says "automatic" in the language in use.
    const QString autoCaption = ctx_.text(5028, QStringLiteral("0 = Auto"));
    if (!autoCaption_.isEmpty() && TextDeviceId_1->text() == autoCaption_)
        TextDeviceId_1->setText(autoCaption);
    autoCaption_ = autoCaption;
    auto refill = [](QComboBox* box, const QStringList& items) {
        const int at = box->currentIndex();
        box->clear();
        box->addItems(items);
        box->setCurrentIndex(at);
    };
    refill(Combobaud, baudCaptions());
    refill(ComboParity, parityCaptions(ctx_.lang));
    refill(ComboStopbits, stopBitCaptions(ctx_.lang));
}

void CommsView::readControls(const QList<int>& unread) {
    const CommsControls c = ReadCommsControls(ctx_.link.state, ctx_.lang);
    TextAddress->setText(c.address);
    if (c.baud >= 0)
        Combobaud->setCurrentIndex(c.baud);
    if (c.parity >= 0)
        ComboParity->setCurrentIndex(c.parity);
    if (c.stop >= 0)
        ComboStopbits->setCurrentIndex(c.stop);
    deviceIdRead_ = !unread.contains(kDeviceIdRegister);
    TextDeviceId_1->setText(deviceIdRead_ ? c.deviceId : QString());
    TextDeviceId_1->setEnabled(deviceIdRead_ && deviceIdApplies(ctx_.link.state));
}

CommsControls CommsView::controls() const {
    return {TextAddress->text(),           Combobaud->currentIndex(), ComboParity->currentIndex(),
            ComboStopbits->currentIndex(), TextDeviceId_1->text(),    deviceIdRead_};
}

} // namespace gp
