#include "unit/registers.h"

namespace gp {

QString formatFirmwareVersion(int versionTimes100, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(versionTimes100 / 100.0, 'f', 2);
}

int appIdOf(const DeviceState& state) {
    return static_cast<int>((static_cast<uint32_t>(state.RegRecord.asInt(1)) >> 28) & 0x0F);
}

bool hasFeature(const DeviceState& state, uint32_t bit) {
    return (static_cast<uint32_t>(state.RegRecord.asInt(1)) & bit) != 0;
}

QStringList featureNames(int32_t reg01) {
    static constexpr const char* kNames[28] = {
        "0",   "MODBUS", "BACNET", "CO2", "Buzzer", "Humdity", "R-180", "Triac",  "PIR", "WIFI",
        "RTC", "USA",    "CE",     "13",  "AO1",    "AO2",     "AO3",   "AO4",    "DO1", "DO2",
        "DI1", "DI2",    "RI1",    "RI2", "AI",     "TVOC",    "26",    "INT NTC"};
    QStringList out;
    for (int bit = 0; bit < 28; ++bit)
        if ((static_cast<uint32_t>(reg01) >> bit) & 1u)
            out << QString::fromLatin1(kNames[bit]);
    return out;
}

QString productNameOf(const DeviceState& s) {
    QByteArray name;
    for (int i = 0; i < 12; ++i) {
        const uint8_t b = s.RegRecord.byte(0x0D + i / 4, i % 4);
        if (b == 0)
            break;
        name.append(static_cast<char>(b));
    }
    return QString::fromLatin1(name).toUpper();
}

QString serialNumberOf(const DeviceState& s) {
    const auto serial = static_cast<uint32_t>(s.RegRecord.asInt(0x03));
    if (serial == 0)
        return QString();
    const auto letter = static_cast<char>(serial >> 24);
    const QString number = QString::number(serial & 0xFFFFFFu);
    return letter == 0 ? number : QString(QChar::fromLatin1(letter)) + '-' + number;
}

} // namespace gp
