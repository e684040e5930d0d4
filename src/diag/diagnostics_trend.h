#pragma once
// The samples of the diagnostics view's live polls, for its trend plot. The
// completion step of each poll batch hands the batch over; the values that
// batch read (and only those: a lost reply leaves its signal empty for that
// sample, never the previous value) become one sample, timed by the poll
// cycle's own tick count. Nothing here knows of a plot.

#include "app/trend_buffer.h"
#include "link/link.h"

#include <optional>

namespace gp {

class DiagnosticsTrend {
  public:
    // Signals, in CSV column order after the time: the polled channel's count
    // and volts, then the sensor inputs top to bottom.
    static constexpr int kA2DCount = 0;
    static constexpr int kA2DVolts = 1;
    static constexpr int kFirstSensor = 2;
    static constexpr int kSignals = 10;
    // An hour of the fastest poll there is: a one-frame batch takes at least
    // two poll ticks (the frame goes out on one, its reply is taken on the
    // next), so one sample per 40 ms at most.
    static constexpr int kCapacity = 60 * 60 * 1000 / (2 * PollCycle::kTickMs);

    DiagnosticsTrend();

    // The view's polls just started batchId, reading the channel (if any)
    // and the sensor inputs (if temps). A new channel starts the trend over,
    // since its columns are named after the channel. displaced: the batch
    // replaced one whose frame was still awaited (a "Poll" box clicked while
    // the other poll ran); the reply to that frame can still arrive and be
    // taken for the first of the new batch, so that batch gives no sample.
    void pollStarted(int batchId, std::optional<int> channel, bool temps, bool displaced = false);
    // A batch ended and the completion step runs: a sample when it was the
    // poll batch last started. Answers whether a sample was added.
    bool batchCompleted(const Link& link);

    const TrendBuffer& buffer() const { return buffer_; }
    void clear() { buffer_.clear(); }
    // The channel of the samples held (the last polled), -1 before any.
    int channel() const { return channel_; }
    // The names shown for each signal (the A2D ones name the channel).
    QStringList seriesNames() const;
    // The columns of `glimmerpane-cli watch` for what was polled: t_ms, the
    // channel's count and volts when it was polled, the sensor inputs when
    // they were.
    QList<TrendColumn> csvColumns() const;

  private:
    TrendBuffer buffer_;
    int pendingBatch_ = 0;
    std::optional<int> pendingChannel_;
    bool pendingTemps_ = false;
    int channel_ = -1;
    bool everA2D_ = false;
    bool everTemps_ = false;
};

} // namespace gp
