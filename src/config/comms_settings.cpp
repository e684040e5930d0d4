#include "config/comms_settings.h"

#include "app/lang_dll.h"
#include "app/typed_number.h"
#include "link/codec.h"
#include "unit/bulk_transfer.h"
#include "unit/registers.h"

#include <QLocale>
#include <cmath>
#include <optional>

namespace gp {

namespace {

// A number the engineer typed, in the C or the user's locale, rounded to the
// nearest integer (halves to even, as the unit tool has always rounded).
std::optional<double> roundedNumber(const QString& text) {
    return typedRoundedNumber(text, TypedNumberForm::CThenLocale);
}

QString lang(const LangDll& l, int id, const char* english) {
    return l.GetLangStringOr(id, QString::fromLatin1(english));
}

int listIndex(int value, qsizetype count) {
    return value >= 0 && value < count ? value : -1;
}

} // namespace

CommsSettings decodeComms(int32_t reg21) {
    const auto u = static_cast<uint32_t>(reg21);
    return {static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
            static_cast<int>((u >> 16) & 0xFF), static_cast<int>((u >> 24) & 0xFF)};
}

int32_t encodeComms(const CommsSettings& c) {
    const uint32_t u = (static_cast<uint32_t>(c.address) & 0xFF) |
                       ((static_cast<uint32_t>(c.baud) & 0xFF) << 8) |
                       ((static_cast<uint32_t>(c.parity) & 0xFF) << 16) |
                       ((static_cast<uint32_t>(c.stop) & 0xFF) << 24);
    return static_cast<int32_t>(u);
}

QStringList baudCaptions() {
    return {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
            QStringLiteral("57600/76800")};
}

QStringList parityCaptions(const LangDll& l) {
    return {lang(l, 5021, "None"), lang(l, 5022, "Even"), lang(l, 5023, "Odd")};
}

QStringList stopBitCaptions(const LangDll& l) {
    return {lang(l, 5019, "1 Stop bit"), lang(l, 5020, "2 Stop bits")};
}

CommsControls ReadCommsControls(const DeviceState& state, const LangDll& l) {
    const CommsSettings c = decodeComms(state.RegRecord.asInt(kCommsRegister));
    CommsControls out;
    out.address = QString::number(c.address);
    out.baud = listIndex(c.baud, 4);
    out.parity = listIndex(c.parity, 3);
    out.stop = listIndex(c.stop, 2);
    const int32_t instance = state.RegRecord.asInt(kDeviceIdRegister);
    out.deviceId = instance != 0 ? QString::number(instance) : lang(l, 5028, "0 = Auto");
    return out;
}

bool addressAccepted(const QString& text) {
    const auto a = roundedNumber(text);
    return a && *a >= 0 && *a <= kMaxAddress;
}

bool deviceIdApplies(const DeviceState& state) {
    return hasFeature(state, feature::Bacnet) &&
           (state.RegRecord.asInt(0x04) & 0xFFFF) == OwnVendorId;
}

void StoreCommsControls(DeviceState& state, const CommsControls& controls) {
    CommsSettings c = decodeComms(state.RegRecord.asInt(kCommsRegister));
    if (const auto a = roundedNumber(controls.address); a && *a >= 0 && *a <= kMaxAddress)
        c.address = static_cast<int>(*a);
    c.baud = controls.baud >= 0 ? controls.baud : 0;
    c.parity = controls.parity >= 0 ? controls.parity : 0;
    c.stop = controls.stop >= 0 ? controls.stop : 0;
    state.RegRecord.slot[kCommsRegister] = encodeComms(c);

    if (!deviceIdApplies(state) || !controls.deviceIdRead)
        return;
    const auto id = roundedNumber(controls.deviceId);
    // "0 = Auto" is what the box shows for automatic; a typed 0 means the same.
    if (!id || *id == 0)
        state.RegRecord.slot[kDeviceIdRegister] = 0;
    else if (*id >= 1 && *id <= kMaxDeviceInstance)
        state.RegRecord.slot[kDeviceIdRegister] = static_cast<int32_t>(*id);
}

QStringList commsWriteFrames(const DeviceState& state) {
    return {BuildWrite(state, kCommsRegister), BuildWrite(state, kCommsCompanionRegister),
            BuildWrite(state, kDeviceIdRegister), BuildSystem(QStringLiteral("U"))};
}

int writeComms(Link& link, const CommsControls& controls) {
    // The controls go over what the unit holds (register 21's other bits, 23
    // as it is); whether the device id applies hangs on 01 and 04.
    const QList<int> needed{0x01, 0x04, kCommsRegister, kCommsCompanionRegister, kDeviceIdRegister};
    return link.writes
        .request(needed,
                 [controls](DeviceState& state) {
                     state.refreshRegRecord();
                     StoreCommsControls(state, controls);
                     state.storeRegRecord();
                     WriteBatch b;
                     b.frames = commsWriteFrames(state);
                     b.divisor = static_cast<int>(b.frames.size()) + 1;
                     b.resendLost = true;
                     return b;
                 })
        .batchId;
}

void sendServicePin(Link& link) {
    link.SendMsg(BuildSystem(QStringLiteral("B")));
}

void sendDefaults(Link& link) {
    link.SendMsg(BuildSystem(QStringLiteral("D")));
}

void sendReset(Link& link) {
    link.SendMsg(BuildSystem(QStringLiteral("R")));
}

int burnSettings(Link& link) {
    return link.startBatch({BuildSystem(QStringLiteral("P"))}, 1, 0, false);
}

namespace {
const QList<int> kStoredOver{0x01, 0x04, kCommsRegister, kDeviceIdRegister};
} // namespace

QList<int> unreadBeforeWriteWithComms(const DeviceState& state) {
    QList<int> unread;
    for (int r : unreadDeviceSettingsRegisters(state))
        if (r != 0 && !kStoredOver.contains(r))
            unread << r;
    return unread;
}

WriteStart writeDeviceSettingsWithComms(Link& link, const CommsControls& controls,
                                        const QList<int>& readFirst) {
    return WriteDeviceSettings(link, kStoredOver + readFirst, [controls](DeviceState& state) {
        state.refreshRegRecord();
        StoreCommsControls(state, controls);
        state.storeRegRecord();
    });
}

} // namespace gp
