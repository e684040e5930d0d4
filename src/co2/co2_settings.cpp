#include "co2/co2_settings.h"

#include "app/typed_number.h"

#include <algorithm>
#include <cmath>

namespace gp {

namespace {

QString param2(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// A number taken to the nearest integer (halves to the even neighbour) and
// limited to lo..hi; limited tells whether it was outside.
int roundLimited(double v, int lo, int hi, bool& limited) {
    const double r = std::nearbyint(v);
    limited = r < lo || r > hi;
    return static_cast<int>(std::clamp(r, double(lo), double(hi)));
}

// Days to the sensor's count, cut to the next lower whole number.
double daysToCount(double days) {
    return std::floor(days * kCo2TicksPerDay);
}

int limitCount(double count, bool& limited) {
    limited = count < 0 || count > 65535;
    return static_cast<int>(std::clamp(count, 0.0, 65535.0));
}

} // namespace

std::optional<int> Co2FixedLimit(int button, double typed, bool& limited) {
    limited = false;
    switch (button) {
    case ButtonAmbient:
    case ButtonCalConcentration:
        return roundLimited(typed, 0, 5000, limited);
    case ButtonThreshold:
        return roundLimited(typed, 0, 1000, limited);
    case ButtonProportion:
        return roundLimited(typed, 1, 255, limited);
    case ButtonInterval:
        return limitCount(daysToCount(typed), limited);
    default:
        return std::nullopt;
    }
}

QStringList Co2MethodNames() {
    return {QStringLiteral("Disabled"), QStringLiteral("Standard"), QStringLiteral("Proportional"),
            QStringLiteral("Spread"), QStringLiteral("Threshold")};
}

int Co2MethodCode(int index) {
    static constexpr int kCodes[] = {0, 1, 3, 5, 7};
    return index >= 0 && index < 5 ? kCodes[index] : -1;
}

int Co2MethodIndexOfCode(int code) {
    for (int i = 0; i < 5; ++i)
        if (Co2MethodCode(i) == code)
            return i;
    return -1;
}

std::optional<double> Co2Number(const QString& text) {
    // Control characters would end the sensor line early and start another.
    return typedNumber(text, TypedNumberForm::COnly, QLocale::c(), true);
}

Co2Fields::Co2Fields() {
    for (int n : {1, 2, 3, 4, 6, 8, 9, 10, 11})
        text.at(static_cast<size_t>(n)) = QStringLiteral("---");
    level = QStringLiteral("----");
    methodItems = Co2MethodNames();
}

Co2Settings::Co2Settings(Co2Link& link) : link_(link) {
    link_.onGroup = [this](const Co2Group& g) { handle(g); };
    link_.onReadAll = [this] { clearReadFields(); };
    link_.onLevel = [this](int ppm) {
        fields_.level = QString::number(ppm);
        changed();
    };
}

Co2Settings::~Co2Settings() {
    link_.onGroup = nullptr;
    link_.onReadAll = nullptr;
    link_.onLevel = nullptr;
}

void Co2Settings::setText(int field, const QString& text) {
    if (field >= 1 && field < static_cast<int>(fields_.text.size()))
        fields_.text.at(static_cast<size_t>(field)) = text;
}

void Co2Settings::setShown(int field, const QString& text) {
    fields_.text.at(static_cast<size_t>(field)) = text;
}

void Co2Settings::changed() {
    if (onChanged)
        onChanged();
}

void Co2Settings::clearReadFields() {
    for (int f :
         {FieldFilter, FieldAmbient, FieldInitialDays, FieldIntervalDays, FieldCalConcentration})
        setShown(f, QString());
    changed();
}

bool Co2Settings::enabled(int button) const {
    switch (button) {
    case ButtonProportion:
    case ButtonThreshold:
        return fields_.advancedRows;
    case ButtonMethod:
        return Co2Fields::methodRowEnabled;
    case ButtonCommandMode:
    case ButtonStreamMode:
        return Co2Fields::modeButtonsEnabled;
    default:
        return true;
    }
}

Co2Action Co2Settings::queueTwoByte(int highParam, int value, bool limited) {
    const int high = value / 256;
    const int low = value - 256 * high;
    pendingLow_.insert(highParam, low);
    Co2Action a;
    a.acted = true;
    a.queued = true;
    a.limited = limited;
    a.value = value;
    a.line = QStringLiteral("P %1 %2").arg(param2(highParam)).arg(high);
    link_.Co2QueueWrite(a.line);
    return a;
}

std::optional<int> Co2Settings::initialIntervalLimit(bool& limited) const {
    // The sensor keeps the initial interval as the difference to the
    // interval, both in 1/1728 day.
    limited = false;
    const auto days = Co2Number(text(FieldInitialDays));
    const auto interval = Co2Number(text(FieldIntervalRaw));
    if (!days || !interval)
        return std::nullopt;
    return limitCount(std::nearbyint(*interval - daysToCount(*days)), limited);
}

Co2Action Co2Settings::press(int button) {
    Co2Action a;
    if (!enabled(button))
        return a;
    auto number = [this](int field) { return Co2Number(text(field)); };
    auto direct = [&](const QString& line) {
        a.acted = true;
        a.line = line;
        link_.sendLine(line);
        return a;
    };
    auto queued = [&](const QString& line) {
        a.acted = true;
        a.queued = true;
        a.line = line;
        link_.Co2QueueWrite(line);
        return a;
    };
    bool limited = false;
    // A ppm setting held in two one-byte parameters, the high byte first.
    auto twoByteField = [&](int field, int highParam) {
        const auto v = number(field);
        if (!v)
            return a;
        const int value = *Co2FixedLimit(button, *v, limited);
        return queueTwoByte(highParam, value, limited);
    };
    switch (button) {
    case ButtonReadAll:
        link_.Co2ReadAll();
        a.acted = true;
        return a;
    case ButtonFilter:
        if (!number(FieldFilter))
            return a;
        // The sensor takes the filter as typed.
        a.value = static_cast<int>(std::clamp(*number(FieldFilter), -1.0, 1e9));
        return queued(QStringLiteral("A ") + text(FieldFilter));
    case ButtonAmbient:
        return twoByteField(FieldAmbient, 10);
    case ButtonCalConcentration:
        return twoByteField(FieldCalConcentration, 8);
    case ButtonThreshold:
        return twoByteField(FieldThreshold, 17);
    case ButtonInitialInterval: {
        const auto stored = initialIntervalLimit(limited);
        if (!stored)
            return a;
        const int value = *stored;
        setShown(FieldInitialRaw, QString::number(value));
        changed();
        return queueTwoByte(3, value, limited);
    }
    case ButtonInterval: {
        const auto days = number(FieldIntervalDays);
        if (!days)
            return a;
        const int value = *Co2FixedLimit(button, *days, limited);
        setShown(FieldIntervalRaw, QString::number(value));
        changed();
        return queueTwoByte(5, value, limited);
    }
    case ButtonProportion: {
        const auto v = number(FieldProportion);
        if (!v)
            return a;
        const int value = *Co2FixedLimit(button, *v, limited);
        a.limited = limited;
        a.value = value;
        return queued(QStringLiteral("P 16 %1").arg(value));
    }
    case ButtonMethod: {
        const int code = Co2MethodCode(fields_.methodIndex);
        if (code < 0)
            return a;
        return queued(QStringLiteral("P 07 %1").arg(code));
    }
    case ButtonCommandMode:
        return direct(QStringLiteral("K 0"));
    case ButtonStreamMode:
        return direct(QStringLiteral("K 1"));
    case ButtonCalibrate:
        return direct(QStringLiteral("G"));
    default:
        return a;
    }
}

void Co2Settings::handle(const Co2Group& g) {
    switch (Co2KeyOf(g.key)) {
    case Co2Key::Filter:
        setShown(FieldFilter, QString::number(g.first));
        changed();
        break;
    case Co2Key::ParamRead:
        paramRead(g.first, g.second);
        break;
    case Co2Key::ParamAck:
        // The acknowledged parameter stands in columns 4 to 8 of the line.
        paramAck(Co2ParseFive(g.line.mid(3, 5)));
        break;
    case Co2Key::RegRead:
        regRead(g.first, g.second);
        break;
    default:
        break;
    }
}

void Co2Settings::paramAck(int param) {
    switch (param) {
    case 3:
    case 5:
    case 8:
    case 10:
    case 12:
    case 17: {
        // The high byte is in; now the low byte of the same write. An
        // acknowledgement we did not ask for writes nothing.
        const auto it = pendingLow_.constFind(param);
        if (it == pendingLow_.constEnd())
            return;
        const int low = *it;
        pendingLow_.erase(it);
        link_.sendLine(QStringLiteral("P %1 %2").arg(param2(param + 1)).arg(low));
        break;
    }
    case 4:
    case 6:
    case 9:
    case 11:
    case 13:
    case 18:
        // Both bytes are in: read the setting back.
        link_.sendLine(QStringLiteral("p %1").arg(param2(param - 1)));
        break;
    case 16:
        link_.sendLine(QStringLiteral("p 16"));
        break;
    default:
        break;
    }
}

void Co2Settings::paramRead(int param, int value) {
    auto highThenLow = [&](int high) {
        readHigh_.insert(high, value);
        Co2HiByte = value;
        link_.sendLine(QStringLiteral("p %1").arg(param2(high + 1)));
    };
    auto twoByte = [&](int high) {
        Co2LoByte = value;
        return readHigh_.value(high, Co2HiByte) * 256 + value;
    };
    switch (param) {
    case 3:
    case 5:
    case 8:
    case 10:
    case 12:
    case 17:
        highThenLow(param);
        return;
    case 4: {
        const int raw = twoByte(3);
        setShown(FieldInitialRaw, QString::number(raw));
        // Shown in days against the interval already read.
        const auto interval = Co2Number(text(FieldIntervalRaw));
        setShown(FieldInitialDays, interval ? QString::number(static_cast<qint64>(
                                                  std::floor((*interval - raw) / kCo2TicksPerDay)))
                                            : QString());
        break;
    }
    case 6: {
        const int raw = twoByte(5);
        setShown(FieldIntervalRaw, QString::number(raw));
        setShown(FieldIntervalDays, QString::number(raw / kCo2TicksPerDay));
        break;
    }
    case 7: {
        const int index = Co2MethodIndexOfCode(value);
        if (index < 0)
            return;
        fields_.methodIndex = index;
        break;
    }
    case 9:
        setShown(FieldCalConcentration, QString::number(twoByte(8)));
        break;
    case 11:
        setShown(FieldAmbient, QString::number(twoByte(10)));
        break;
    case 13:
        twoByte(12);
        return;
    case 16:
        link_.Co2AdvancedCal = true;
        fields_.advancedRows = true;
        // The list is filled again, which leaves nothing selected until the
        // method itself is read.
        fields_.methodItems = Co2MethodNames();
        fields_.methodIndex = -1;
        setShown(FieldProportion, QString::number(value));
        break;
    case 18:
        setShown(FieldThreshold, QString::number(twoByte(17)));
        break;
    default:
        return;
    }
    changed();
}

void Co2Settings::regRead(int reg, int value) {
    switch (reg) {
    case 82:
    case 84:
        readHigh_.insert(reg, value);
        Co2HiByte = value;
        link_.sendLine(QStringLiteral("R %1").arg(reg + 1));
        break;
    case 69:
    case 83:
    case 85:
        Co2LoByte = value;
        break;
    default:
        break;
    }
}

} // namespace gp
