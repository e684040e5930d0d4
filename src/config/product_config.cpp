#include "config/product_config.h"

#include "app/typed_number.h"

#include "link/codec.h"
#include "link/link.h"

#include <QByteArray>
#include <cmath>

namespace gp {

namespace {

constexpr int kVendorReg = 0x04;
constexpr int kVendorNameReg = 0x05;
constexpr int kVendorNameBytes = 32;
constexpr int kProductNameReg = 0x0D;
constexpr int kProductNameBytes = 12;

// Names are Latin-1 bytes, cut or zero-padded to the field, last byte 0.
QByteArray nameBytes(const QString& text, int size) {
    QByteArray bytes = text.toLatin1().left(size - 1);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

// Byte 4k of the name is the least significant byte of the k-th register,
// so the name goes on the wire in text order.
int32_t nameWord(const QByteArray& bytes, int k) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * k + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

QString nameFromRecord(const RegisterRecord& record, int firstReg, int size) {
    QByteArray bytes;
    for (int i = 0; i < size; ++i) {
        const uint8_t b = record.byte(firstReg + i / 4, i % 4);
        if (b == 0)
            break;
        bytes.append(static_cast<char>(b));
    }
    return QString::fromLatin1(bytes);
}

} // namespace

QString featureCaption(int bit) {
    static const char* const captions[ProductConfig::kFeatureBits] = {
        "0",   "MODBUS", "BACNET", "CO2", "Buzzer", "Humdity", "R-180", "Triac",  "PIR", "WIFI",
        "RTC", "USA",    "CE",     "13",  "AO1",    "AO2",     "AO3",   "AO4",    "DO1", "DO2",
        "DI1", "DI2",    "RI1",    "RI2", "AI",     "TVOC",    "26",    "INT NTC"};
    if (bit < 0 || bit >= ProductConfig::kFeatureBits)
        return QString();
    return QString::fromLatin1(captions[bit]);
}

namespace {
// Correct spellings of captions the unit misspells.
constexpr std::pair<const char*, int> kFeatureSpellings[] = {{"Humidity", 5}};
} // namespace

int featureBitNamed(const QString& name) {
    const QString n = name.trimmed();
    for (int i = 0; i < ProductConfig::kFeatureBits; ++i)
        if (featureCaption(i).compare(n, Qt::CaseInsensitive) == 0)
            return i;
    for (const auto& [spelling, bit] : kFeatureSpellings)
        if (n.compare(QLatin1String(spelling), Qt::CaseInsensitive) == 0)
            return bit;
    return -1;
}

QStringList featureNamesAccepted() {
    QStringList names;
    for (int i = 0; i < ProductConfig::kFeatureBits; ++i)
        names << featureCaption(i);
    for (const auto& [spelling, bit] : kFeatureSpellings)
        names << QString::fromLatin1(spelling);
    return names;
}

QStringList applicationCaptions() {
    QStringList list{QStringLiteral("0: None(TestMode)"), QStringLiteral("1: VX21/VXM/CZ410"),
                     QStringLiteral("2: VX22/CZ420"), QStringLiteral("3: CZ430/VX23")};
    for (int i = 4; i < 16; ++i)
        list << QStringLiteral("%1:").arg(i);
    return list;
}

int vendorIdFromText(const QString& text) {
    const auto number = typedRoundedNumber(text, TypedNumberForm::COnly);
    if (!number)
        return 0;
    const double rounded = *number;
    if (rounded > 0 && rounded < 32657)
        return static_cast<int>(rounded);
    return 0;
}

int32_t featureRegisterValue(const ProductConfig& config) {
    uint32_t value = config.features & 0x0FFFFFFFu;
    if (config.appId >= 0 && config.appId <= 15)
        value |= static_cast<uint32_t>(config.appId) << 28;
    return static_cast<int32_t>(value);
}

ProductConfig productConfigFromRegisters(const RegisterRecord& record) {
    ProductConfig c;
    const auto reg01 = static_cast<uint32_t>(record.asInt(0x01));
    c.features = reg01 & 0x0FFFFFFFu;
    c.appId = static_cast<int>(reg01 >> 28);
    c.vendorIdText = QString::number(static_cast<int16_t>(record.asInt(kVendorReg) & 0xFFFF));
    c.vendorName = nameFromRecord(record, kVendorNameReg, kVendorNameBytes);
    c.productName = nameFromRecord(record, kProductNameReg, kProductNameBytes);
    return c;
}

QStringList productConfigFrames(const ProductConfig& config) {
    QStringList frames;
    frames << BuildItemWrite(QLatin1Char('W'), 0x01, featureRegisterValue(config));
    frames << BuildItemWrite(QLatin1Char('W'), kVendorReg, vendorIdFromText(config.vendorIdText));
    const QByteArray vendor = nameBytes(config.vendorName, kVendorNameBytes);
    for (int k = 0; k < kVendorNameBytes / 4; ++k)
        frames << BuildItemWrite(QLatin1Char('W'), kVendorNameReg + k, nameWord(vendor, k));
    const QByteArray product = nameBytes(config.productName, kProductNameBytes);
    for (int k = 0; k < kProductNameBytes / 4; ++k)
        frames << BuildItemWrite(QLatin1Char('W'), kProductNameReg + k, nameWord(product, k));
    // Burn first so the identity survives, then factory defaults for the new
    // product, then the reset that makes the unit start as that product.
    frames << BuildSystem(QStringLiteral("P")) << BuildSystem(QStringLiteral("D"))
           << BuildSystem(QStringLiteral("R"));
    return frames;
}

QList<int> productConfigRegisters() {
    QList<int> regs{0x01};
    for (int r = kVendorReg; r < kProductNameReg + kProductNameBytes / 4; ++r)
        regs << r;
    return regs;
}

QStringList productConfigFramesKeeping(const ProductConfig& config, const DeviceState& unit,
                                       const ProductFieldsGiven& given) {
    QStringList frames = productConfigFrames(config);
    // The frames of registers 01, 04..0F stand at 0..13 in register order.
    auto keep = [&](int firstReg, int count) {
        for (int r = firstReg; r < firstReg + count; ++r)
            frames[r == 0x01 ? 0 : r - kVendorReg + 1] = BuildWrite(unit, r);
    };
    // Names and the vendor id go back raw: a name with bytes behind its end
    // or a vendor id outside the text range would not survive the controls.
    if (!given.appId && !given.features)
        keep(0x01, 1);
    if (!given.vendorId)
        keep(kVendorReg, 1);
    if (!given.vendorName)
        keep(kVendorNameReg, kVendorNameBytes / 4);
    if (!given.productName)
        keep(kProductNameReg, kProductNameBytes / 4);
    return frames;
}

void WriteProductConfig(Link& link, const ProductConfig& config, const ProductFieldsGiven& given) {
    // 17 entries with the end entry; the progress counts all of them.
    link.startBatch(productConfigFramesKeeping(config, link.state, given), 17);
}

} // namespace gp
