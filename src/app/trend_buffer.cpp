#include "app/trend_buffer.h"

#include "platform/atomic_file.h"
#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <limits>

namespace gp {

TrendBuffer::TrendBuffer(QStringList signalNames, int capacity)
    : names_(std::move(signalNames)), capacity_(capacity < 1 ? 1 : capacity) {
    // The whole ring up front: appending never allocates a slot, only fills
    // the value row of the slot it reuses.
    ring_.resize(static_cast<size_t>(capacity_));
    for (Sample& s : ring_)
        s.values.reserve(static_cast<size_t>(names_.size()));
}

void TrendBuffer::append(int64_t tMs, const std::vector<double>& values) {
    if (count_ > 0 && tMs < newest().tMs)
        clear();
    size_t slot;
    if (count_ < ring_.size()) {
        slot = (head_ + count_) % ring_.size();
        ++count_;
    } else {
        slot = head_;
        head_ = (head_ + 1) % ring_.size();
    }
    Sample& s = ring_[slot];
    s.tMs = tMs;
    s.values.assign(static_cast<size_t>(names_.size()), std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; i < s.values.size() && i < values.size(); ++i)
        s.values[i] = values[i];
    ++revision_;
}

void TrendBuffer::clear() {
    head_ = 0;
    count_ = 0;
    ++revision_;
}

const TrendBuffer::Sample& TrendBuffer::at(int i) const {
    return ring_[(head_ + static_cast<size_t>(i)) % ring_.size()];
}

int TrendBuffer::firstAtOrAfter(int64_t tMs) const {
    // Times rise from oldest to newest: a binary search over the ring.
    int lo = 0;
    int hi = size();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (at(mid).tMs < tMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

QStringList trendCsvLines(const TrendBuffer& buffer, const QList<TrendColumn>& columns,
                          std::optional<int64_t> fromMs, std::optional<int64_t> toMs,
                          const QDateTime* wallOrigin) {
    QStringList lines;
    QStringList header;
    for (const TrendColumn& c : columns)
        header << c.header;
    lines << header.join(QLatin1Char(','));
    const QLocale csv = QLocale::c();
    const int first = fromMs ? buffer.firstAtOrAfter(*fromMs) : 0;
    if (first >= buffer.size())
        return lines;
    const int64_t t0 = buffer.at(first).tMs;
    for (int i = first; i < buffer.size(); ++i) {
        const TrendBuffer::Sample& s = buffer.at(i);
        if (toMs && s.tMs > *toMs)
            break;
        QStringList row;
        for (const TrendColumn& c : columns) {
            if (c.signal < 0) {
                row << (wallOrigin ? wallOrigin->addMSecs(s.tMs).toString(Qt::ISODateWithMs)
                                   : QString::number(s.tMs - t0));
                continue;
            }
            const double v = c.signal < static_cast<int>(s.values.size())
                                 ? s.values[static_cast<size_t>(c.signal)]
                                 : std::numeric_limits<double>::quiet_NaN();
            row << (std::isfinite(v) ? csv.toString(v, 'f', c.decimals) : QString());
        }
        lines << row.join(QLatin1Char(','));
    }
    return lines;
}

Status writeTrendCsv(const QString& path, const QStringList& lines) {
    QByteArray data;
    for (const QString& line : lines)
        data += line.toUtf8() + "\r\n";
    return writeFileAtomically(path, data);
}

} // namespace gp
