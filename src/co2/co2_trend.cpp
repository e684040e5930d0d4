#include "co2/co2_trend.h"

#include "co2/co2_link.h"
#include "co2/co2_settings.h"

namespace gp {

Co2Trend::Co2Trend(Co2Link& link) : link_(link), buffer_({QStringLiteral("co2_ppm")}, kCapacity) {
    previous_ = link_.onLevel;
    link_.onLevel = [this](int ppm) {
        if (previous_)
            previous_(ppm);
        levelReceived(ppm);
    };
}

Co2Trend::~Co2Trend() {
    link_.onLevel = previous_;
}

void Co2Trend::levelReceived(int ppm) {
    const int64_t t = static_cast<int64_t>(link_.link().poll.tickCount()) * PollCycle::kTickMs;
    buffer_.append(t, {static_cast<double>(ppm)});
}

QList<TrendColumn> Co2Trend::csvColumns() {
    return {{QStringLiteral("time"), -1, 0}, {QStringLiteral("co2_ppm"), 0, 0}};
}

std::optional<double> co2ThresholdOf(bool advancedRows, const QString& thresholdText) {
    if (!advancedRows)
        return std::nullopt;
    const std::optional<double> v = Co2Number(thresholdText);
    if (!v || *v <= 0)
        return std::nullopt;
    return v;
}

} // namespace gp
