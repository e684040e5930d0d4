#include "diag/diagnostics_trend.h"

#include "diag/diagnostics.h"

#include <limits>

namespace gp {

namespace {

QStringList signalNames() {
    QStringList names{QStringLiteral("a2d_count"), QStringLiteral("a2d_V")};
    for (const SensorRow& row : sensorRows())
        names << QString::fromLatin1(row.caption);
    return names;
}

} // namespace

DiagnosticsTrend::DiagnosticsTrend() : buffer_(signalNames(), kCapacity) {}

void DiagnosticsTrend::pollStarted(int batchId, std::optional<int> channel, bool temps,
                                   bool displaced) {
    if (batchId == 0)
        return;
    pendingBatch_ = displaced ? 0 : batchId;
    pendingChannel_ = channel;
    pendingTemps_ = temps;
    if (channel && *channel != channel_) {
        buffer_.clear();
        channel_ = *channel;
        everTemps_ = false;
    }
}

bool DiagnosticsTrend::batchCompleted(const Link& link) {
    const BatchOutcome s = link.poll.outcome(pendingBatch_);
    if (s.displaced || !s.finished)
        return false;
    pendingBatch_ = 0;
    const double none = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> row(kSignals, none);
    const DeviceState& st = link.state;
    bool any = false;
    if (pendingChannel_) {
        const std::optional<QString> frame = a2dFrame(*pendingChannel_);
        if (frame && !s.lostFrames.contains(*frame)) {
            const int32_t raw = st.ARegCache[static_cast<size_t>(*pendingChannel_)];
            row[kA2DCount] = raw;
            row[kA2DVolts] = raw * 3.0 / 4095.0;
            any = true;
        }
        everA2D_ = true;
    }
    if (pendingTemps_) {
        const QStringList frames = sensorFrames();
        const auto& rows = sensorRows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (s.lostFrames.contains(frames[static_cast<int>(i)]))
                continue;
            row[kFirstSensor + i] = st.inputAsFloat(rows[i].item);
            any = true;
        }
        everTemps_ = true;
    }
    if (!any)
        return false;
    buffer_.append(static_cast<int64_t>(link.poll.tickCount()) * PollCycle::kTickMs, row);
    return true;
}

QStringList DiagnosticsTrend::seriesNames() const {
    const QStringList names = buffer_.signalNames();
    QStringList shown = names;
    const QString ch = channel_ >= 0 && channel_ < a2dChannelNames().size()
                           ? a2dChannelNames().at(channel_)
                           : QStringLiteral("A2D");
    shown[kA2DCount] = ch + QStringLiteral(" (count)");
    shown[kA2DVolts] = ch + QStringLiteral(" (V)");
    return shown;
}

QList<TrendColumn> DiagnosticsTrend::csvColumns() const {
    QList<TrendColumn> cols{{QStringLiteral("t_ms"), -1, 0}};
    if (everA2D_ && channel_ >= 0) {
        cols.append({QStringLiteral("a2d%1_count").arg(channel_), kA2DCount, 0});
        cols.append({QStringLiteral("a2d%1_V").arg(channel_), kA2DVolts, 4});
    }
    if (everTemps_) {
        const QStringList names = buffer_.signalNames();
        for (int i = kFirstSensor; i < kSignals; ++i)
            cols.append({names[i], i, 3});
    }
    return cols;
}

} // namespace gp
