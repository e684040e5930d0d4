#include "diag/diagnostics.h"
#include "unit/chips.h"

#include "app/printable_text.h"

#include "link/codec.h"

namespace gp {

namespace {

// The channel input's reference and pull-up: 12-bit readings of 0..3 V
// through 10 kohm to the reference.
constexpr double kFullScale = 4095.0;
constexpr double kReferenceV = 3.0;
constexpr double kPullUpOhms = 10000.0;

QLocale withoutGrouping(QLocale locale) {
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

QStringList diagnosticsFrames() {
    QStringList frames{BuildItemRead('D', 0x01), BuildItemRead('D', 0x02), BuildItemRead('D', 0x03),
                       BuildStatus()};
    for (int reg = 0x01; reg <= 0x0F; ++reg)
        frames << BuildRead(reg);
    frames << BuildRead(0x25) << BuildRead(0x2E) << BuildItemRead('U', 0x05)
           << BuildItemRead('D', 0x0A);
    return frames;
}

int DiagnosticsRead(Link& link, A2DRange& range) {
    range.reset();
    return link.startBatch(diagnosticsFrames());
}

std::optional<QString> resetCauseText(int code) {
    switch (code) {
    case 0:
        return QStringLiteral("Power-up");
    case 1:
        return QStringLiteral("Return from Backup mode");
    case 2:
        return QStringLiteral("Watchdog fault");
    case 3:
        return QStringLiteral("Software Reset");
    case 4:
        return QStringLiteral("User Reset (NRST taken low)");
    default:
        return std::nullopt;
    }
}

QString nameFromRegisters(const DeviceState& state, int firstReg, int regCount) {
    QString name;
    for (int r = firstReg; r < firstReg + regCount; ++r) {
        const auto bits = static_cast<uint32_t>(state.RegCache[static_cast<size_t>(r)]);
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<uint8_t>(bits >> (8 * i));
            if (c == 0)
                return name;
            name += QChar::fromLatin1(static_cast<char>(c));
        }
    }
    return name;
}

DiagnosticsDisplay ShowDiagnostics(DeviceState& state) {
    DiagnosticsDisplay d;
    d.resetCause = resetCauseText((static_cast<uint32_t>(state.StatusFlags) >> 8) & 0xFF);
    const auto flags = static_cast<uint32_t>(state.HWTestFlags);
    for (int i = 0; i < 32; ++i)
        d.debugFlags[static_cast<size_t>(i)] = (flags >> i) & 1u;
    const auto features = static_cast<uint32_t>(state.RegCache[0x01]);
    for (int i = 0; i < 28; ++i)
        d.featureFlags[static_cast<size_t>(i)] = (features >> i) & 1u;
    // Shown only: the names are the unit's bytes with anything unprintable
    // replaced, so a stray control byte cannot break a label or a terminal.
    d.productName = printableText(nameFromRegisters(state, 0x0D, 3));
    d.vendorName = printableText(nameFromRegisters(state, 0x05, 8));
    d.appIndex = static_cast<int>(features >> 28);
    d.vendorId = QString::number(static_cast<int16_t>(state.RegCache[0x04] & 0xFFFF));

    const auto chip = static_cast<uint32_t>(state.IdentU05);
    d.chipIdHex = QStringLiteral("%1").arg(chip, 8, 16, QLatin1Char('0')).toUpper();
    // The low five bits are the silicon revision; the name table knows the
    // part only. The cleared value stays in the state, as the unit tool has
    // always done, so the next refresh shows the identifier without revision.
    state.IdentU05 = static_cast<int32_t>(chip & ~0x1Fu);
    d.chipName = unit::chipNameOf(static_cast<uint32_t>(state.IdentU05));

    d.spiRate = QString::number(state.DiagItem10);
    // A register never read shows empty, never as 0.
    auto half = [&](int reg, int shift) {
        if (!state.known(reg))
            return QString();
        const auto v = static_cast<uint32_t>(state.RegCache[static_cast<size_t>(reg)]);
        return QString::number(static_cast<int16_t>((v >> shift) & 0xFFFF));
    };
    d.touchAdc = {half(0x18, 0), half(0x18, 16), half(0x19, 0), half(0x19, 16)};
    return d;
}

QStringList a2dChannelNames() {
    return {QStringLiteral("NTC Temp Sensor"),
            QStringLiteral("Res1/Lux"),
            QStringLiteral("Res2/Pot"),
            QStringLiteral("NTC Compensation"),
            QStringLiteral("A0 Calib"),
            QStringLiteral("A1 Calib"),
            QStringLiteral("A2 Calib"),
            QStringLiteral("A3 Calib"),
            QStringLiteral("X"),
            QStringLiteral("Y"),
            QStringLiteral("Pressure")};
}

A2DReading formatA2D(int32_t raw, A2DRange& range, const QLocale& locale) {
    A2DReading r;
    r.count = QString::number(raw);
    const double volts = raw * kReferenceV / kFullScale;
    r.volts = locale.toString(volts, 'f', 4) + QStringLiteral(" V");
    if (volts >= kReferenceV)
        r.ohms = QStringLiteral("Open");
    else if (volts == 0.0)
        r.ohms = QStringLiteral("Short");
    else
        r.ohms = locale.toString(volts * kPullUpOhms / (kReferenceV - volts), 'f', 0);
    range.A2DMin = std::min(range.A2DMin, raw);
    range.A2DMax = std::max(range.A2DMax, raw);
    r.min = QString::number(range.A2DMin);
    r.max = QString::number(range.A2DMax);
    r.percent = locale.toString(raw * 100.0 / kFullScale, 'f', 1);
    return r;
}

std::optional<QString> a2dFrame(int channel) {
    if (channel < 0 || channel >= static_cast<int>(DeviceState{}.ARegCache.size()))
        return std::nullopt;
    return BuildItemRead('A', channel);
}

const std::array<SensorRow, 8>& sensorRows() {
    using Q = SensorQuantity;
    static const std::array<SensorRow, 8> rows{{{"NTC10", 0x04, Q::Degrees},
                                                {"ChipcapT", 0x02, Q::Degrees},
                                                {"X5", 0x05, Q::Degrees},
                                                {"RI1", 0x06, Q::Ohms},
                                                {"RI2", 0x07, Q::Ohms},
                                                {"ChipcapH", 0x03, Q::Humidity},
                                                {"NTC_RAW", 0x0D, Q::Raw},
                                                {"HUM_RAW", 0x10, Q::Raw}}};
    return rows;
}

QStringList sensorFrames() {
    QStringList frames;
    for (const SensorRow& row : sensorRows())
        frames << BuildItemRead('I', row.item);
    return frames;
}

QStringList sensorTexts(const DeviceState& state, const QLocale& locale) {
    const QLocale plain = withoutGrouping(locale);
    QStringList texts;
    for (const SensorRow& row : sensorRows())
        texts << plain.toString(static_cast<double>(state.inputAsFloat(row.item)), 'f', 3);
    return texts;
}

PollResult runPolls(Link& link, std::optional<int> a2dChannel, bool temps, A2DRange& range,
                    const QLocale& locale) {
    PollResult result;
    QStringList frames;
    if (a2dChannel) {
        if (const auto frame = a2dFrame(*a2dChannel)) {
            const int32_t raw = link.state.ARegCache[static_cast<size_t>(*a2dChannel)];
            result.a2d = formatA2D(raw, range, locale);
            frames << *frame;
        }
    }
    if (temps) {
        result.sensors = sensorTexts(link.state, locale);
        frames << sensorFrames();
    }
    if (!frames.isEmpty())
        result.batchId = link.startBatch(frames);
    return result;
}

PollResult PollA2D(Link& link, int channel, A2DRange& range, const QLocale& locale) {
    return runPolls(link, channel, false, range, locale);
}

PollResult PollTemps(Link& link, const QLocale& locale) {
    A2DRange unused;
    return runPolls(link, std::nullopt, true, unused, locale);
}

QList<int> debugValueItems() {
    return {0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x0D, 0x0E};
}

QStringList debugValueFrames() {
    QStringList frames;
    for (int item : debugValueItems())
        frames << BuildItemRead('D', item);
    return frames;
}

QStringList ListReadDebugValues(const DeviceState& state) {
    QStringList rows;
    for (int item : debugValueItems())
        rows << QStringLiteral("[%1]=%2").arg(item - 5).arg(
            HexLong(state.DiagValues[static_cast<size_t>(item - 5)]));
    return rows;
}

QStringList ListDebugValues(const DeviceState& state) {
    QStringList rows;
    for (size_t i = 0; i < state.DiagValues.size(); ++i)
        rows << QStringLiteral("[%1]=%2").arg(i).arg(HexLong(state.DiagValues[i]));
    return rows;
}

} // namespace gp
