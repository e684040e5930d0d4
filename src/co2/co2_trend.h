#pragma once
// The samples of the CO2 view's trend plot: every level the sensor streams
// while the pass-through is on, timed by the poll cycle's tick count (the
// link's own clock). It hooks in behind whatever already listens to the
// level, so the level field and the plot see the same values.

#include "app/trend_buffer.h"

#include <functional>
#include <optional>

namespace gp {

class Co2Link;

class Co2Trend {
  public:
    // The sensor streams about every two seconds; an hour of one level per
    // 100 ms sensor tick is far more than it can send.
    static constexpr int kCapacity = 60 * 60 * 10;

    explicit Co2Trend(Co2Link& link);
    ~Co2Trend();
    Co2Trend(const Co2Trend&) = delete;
    Co2Trend& operator=(const Co2Trend&) = delete;

    const TrendBuffer& buffer() const { return buffer_; }
    void clear() { buffer_.clear(); }
    // Called with each level from the stream (the link's hook does this).
    void levelReceived(int ppm);

    // The columns of `glimmerpane-cli watch --co2`: time, co2_ppm.
    static QList<TrendColumn> csvColumns();

  private:
    Co2Link& link_;
    TrendBuffer buffer_;
    std::function<void(int)> previous_; // who listened before, put back on destruction
};

// The threshold drawn across the plot: the sensor's automatic calibration
// threshold in ppm, when it answered for one and it reads as a number.
std::optional<double> co2ThresholdOf(bool advancedRows, const QString& thresholdText);

} // namespace gp
