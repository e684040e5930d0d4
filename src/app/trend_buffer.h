#pragma once
// The samples behind a live trend plot: a fixed set of signals, one row of
// values per sample, the time of each sample in milliseconds of the link's
// own clock (poll ticks), so nothing here reads a clock. The buffer keeps the
// newest rows up to a fixed capacity and drops the oldest beyond it: a plot
// left running for a day holds as much memory as one left running for an
// hour. Appending never waits on whoever draws the rows; a plot reads them
// when it redraws and learns from the revision whether anything changed.

#include "platform/result.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class QDateTime;

namespace gp {

class TrendBuffer {
  public:
    struct Sample {
        int64_t tMs = 0;
        std::vector<double> values; // one per signal; NaN where the signal has none
    };

    // signals: the name of each series (also its CSV column). capacity: the
    // most samples kept.
    TrendBuffer(QStringList signalNames, int capacity);

    const QStringList& signalNames() const { return names_; }
    int capacity() const { return capacity_; }
    int size() const { return static_cast<int>(count_); }
    bool empty() const { return count_ == 0; }

    // Adds a sample. A row of the wrong width is padded with NaN or cut to
    // the signal count. Samples normally come in time order; one older than
    // the newest (a clock restart) starts the trend again.
    void append(int64_t tMs, const std::vector<double>& values);
    void clear();

    // The i-th sample, oldest first (0 <= i < size()).
    const Sample& at(int i) const;
    const Sample& newest() const { return at(size() - 1); }
    // Index of the first sample at or after tMs; size() when there is none.
    int firstAtOrAfter(int64_t tMs) const;

    // Increases with every change; a plot redraws only when it moved.
    uint64_t revision() const { return revision_; }

  private:
    QStringList names_;
    int capacity_;
    std::vector<Sample> ring_;
    size_t head_ = 0; // index of the oldest sample in ring_
    size_t count_ = 0;
    uint64_t revision_ = 0;
};

// How a CSV export writes each column's values.
struct TrendColumn {
    QString header;
    int signal = -1;  // the buffer's signal, or -1 for the time column
    int decimals = 0; // places after the point ('.')
};

// The samples from fromMs up to toMs (each end open when nullopt) as CSV
// lines, header first.
// The time column holds the sample time relative to the first sample kept
// (milliseconds), or, with wallOrigin set, the wall-clock time of each
// sample (ISO 8601 with milliseconds), wallOrigin being the wall time of link
// time 0. Empty values (NaN) stay empty.
QStringList trendCsvLines(const TrendBuffer& buffer, const QList<TrendColumn>& columns,
                          std::optional<int64_t> fromMs = std::nullopt,
                          std::optional<int64_t> toMs = std::nullopt,
                          const QDateTime* wallOrigin = nullptr);

// Writes lines (CR LF) to path, replacing it atomically; fails with why the
// file could not be written.
Status writeTrendCsv(const QString& path, const QStringList& lines);

} // namespace gp
