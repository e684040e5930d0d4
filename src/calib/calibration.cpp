#include "calib/calibration.h"
#include "app/typed_number.h"

#include "link/codec.h"

#include <cmath>
#include <limits>

namespace gp {

namespace {

constexpr std::array<int16_t, 7> kFilterSeconds{0, 10, 20, 30, 60, 120, 240};

const char* const kCoefficientNames[8] = {"AO1_interceptY", "AO1_gain",       "AO2_interceptY",
                                          "AO2_gain",       "AO3_interceptY", "AO3_gain",
                                          "AO4_interceptY", "AO4_gain"};

QLocale plain(QLocale locale) {
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

QStringList calibrationFrames() {
    QStringList frames{BuildStatus(), BuildRead(0x01)};
    for (int reg = 0x10; reg <= 0x17; ++reg)
        frames << BuildRead(reg);
    for (int reg = 0x1A; reg <= 0x20; ++reg)
        frames << BuildRead(reg);
    frames << BuildItemRead('D', 0x0A);
    return frames;
}

int CalibrationRead(Link& link) {
    return link.startBatch(calibrationFrames());
}

void CalibrateOutputs(Link& link) {
    link.SendMsg(BuildSystem(QStringLiteral("C")));
}

QString singleToText(float value, const QLocale& locale) {
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0.0f) // negative zero too
        return QStringLiteral("0");
    // 'G' with 7 digits: fixed notation for exponents -5 < e < 7, otherwise
    // "d.ddddddE+nn"; trailing zeros go without IncludeTrailingZeroesAfterDot.
    return plain(locale).toString(static_cast<double>(value), 'G', 7);
}

int16_t FilterSecondsToIndex(int16_t seconds) {
    for (size_t i = 1; i < kFilterSeconds.size(); ++i) {
        if (kFilterSeconds[i] == seconds)
            return static_cast<int16_t>(i);
    }
    return 0;
}

int16_t FilterIndexToSeconds(int16_t index) {
    if (index < 1 || index >= static_cast<int16_t>(kFilterSeconds.size()))
        return 0;
    return kFilterSeconds[static_cast<size_t>(index)];
}

QStringList filterItems() {
    return {QStringLiteral("None"), QStringLiteral("10s"), QStringLiteral("20s"),
            QStringLiteral("30s"),  QStringLiteral("60s"), QStringLiteral("120s"),
            QStringLiteral("240s")};
}

QStringList screenRateItems() {
    return {QStringLiteral("Fast"), QStringLiteral("Medium"), QStringLiteral("Slow")};
}

const std::array<FilterSlot, 7>& filterSlots() {
    // Temperature, humidity, CO2, lux in register 1F (CO2 in the low byte);
    // outside, floor and network in the low three bytes of register 20.
    static const std::array<FilterSlot, 7> table{
        {{0x1F, 1}, {0x1F, 2}, {0x1F, 0}, {0x1F, 3}, {0x20, 0}, {0x20, 1}, {0x20, 2}}};
    return table;
}

CalibrationDisplay ShowCalibration(DeviceState& state, const QLocale& locale) {
    state.refreshRegRecord();
    const RegisterRecord& rec = state.RegRecord;
    CalibrationDisplay d;
    for (int i = 0; i < 8; ++i) {
        d.coefficientRows << QString::fromLatin1(kCoefficientNames[i]) + QLatin1Char('\t') +
                                 singleToText(rec.asFloat(0x10 + i), locale);
    }
    d.calibrateEnabled = (static_cast<uint32_t>(rec.asInt(0x01)) & kAnalogueOutputsMask) != 0;
    for (int i = 0; i < 5; ++i)
        d.trims[static_cast<size_t>(i)] = singleToText(rec.asFloat(kFirstTrimRegister + i), locale);
    for (size_t i = 0; i < filterSlots().size(); ++i) {
        const FilterSlot s = filterSlots()[i];
        d.filterBytes[i] = rec.byte(s.reg, s.byte);
        d.filterIndex[i] = FilterSecondsToIndex(static_cast<int16_t>(d.filterBytes[i]));
    }
    if (state.DiagItem10 >= -1 && state.DiagItem10 <= 2)
        d.screenRate = state.DiagItem10;
    return d;
}

std::optional<float> trimValue(const QString& text, const QLocale& locale) {
    const auto v = typedNumber(text, TypedNumberForm::LocaleThenC, locale);
    if (!v || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*v);
}

QStringList sensorCharacteristicsFrames(DeviceState& state, const SensorCharacteristics& input,
                                        const QLocale& locale) {
    state.refreshRegRecord();
    RegisterRecord& rec = state.RegRecord;
    for (int i = 0; i < 5; ++i) {
        if (!input.trimTaken[static_cast<size_t>(i)])
            continue;
        const int reg = kFirstTrimRegister + i;
        const QString& text = input.trims[static_cast<size_t>(i)];
        // Seven digits do not hold every single exactly: a trim shown and
        // not touched goes back as the unit holds it, not as its text.
        if (text.trimmed() == singleToText(rec.asFloat(reg), locale))
            continue;
        if (const auto v = trimValue(text, locale))
            rec.setFloat(reg, *v);
    }
    for (size_t i = 0; i < filterSlots().size(); ++i) {
        if (!input.filterTaken[i])
            continue;
        const FilterSlot s = filterSlots()[i];
        const auto seconds = FilterIndexToSeconds(static_cast<int16_t>(input.filterIndex[i]));
        rec.setByte(s.reg, s.byte, static_cast<uint8_t>(seconds));
    }
    // Every frame is composed here, before the first goes out: the next
    // register reply overwrites RegRecord from the cache.
    QStringList frames;
    for (int reg = 0x1A; reg <= 0x20; ++reg)
        frames << BuildItemWrite('W', reg, rec.asInt(reg));
    frames << BuildSystem(QStringLiteral("F")) << BuildSystem(QStringLiteral("R"));
    return frames;
}

QList<int> sensorCharacteristicsNeeds(const SensorCharacteristics& input, const QLocale& locale) {
    QList<int> needed;
    for (int i = 0; i < 5; ++i) {
        const auto at = static_cast<size_t>(i);
        if (!input.trimTaken[at] || !trimValue(input.trims[at], locale))
            needed << kFirstTrimRegister + i;
    }
    for (size_t i = 0; i < filterSlots().size(); ++i) {
        if (!input.filterTaken[i] && !needed.contains(filterSlots()[i].reg))
            needed << filterSlots()[i].reg;
    }
    if (!needed.contains(0x20))
        needed << 0x20; // its fourth byte is no filter and rides along
    return needed;
}

WriteStart WriteSensorCharacteristics(Link& link, const SensorCharacteristics& input,
                                      const QLocale& locale) {
    return link.writes.request(sensorCharacteristicsNeeds(input, locale),
                               [input, locale](DeviceState& state) {
                                   WriteBatch b;
                                   b.frames = sensorCharacteristicsFrames(state, input, locale);
                                   b.resendLost = true;
                                   return b;
                               });
}

QStringList screenRateFrames(int listIndex) {
    const int value = listIndex == 1 || listIndex == 2 ? listIndex : 0;
    return {BuildItemWrite('D', 0x0A, value), BuildSystem(QStringLiteral("R"))};
}

int WriteScreenRate(Link& link, int listIndex) {
    return link.startBatch(screenRateFrames(listIndex));
}

} // namespace gp
