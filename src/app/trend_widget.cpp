#include "app/trend_widget.h"

#include "platform/prompts.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>
#include <limits>

namespace gp {

namespace {

constexpr int kWindowMinutes[3] = {1, 10, 60};
constexpr int kDefaultWindowIndex = 1; // 10 minutes

// Rounds a span out to values an axis can label plainly.
void niceRange(double& lo, double& hi) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
        return;
    }
    if (hi - lo < 1e-9) {
        const double pad = std::max(std::abs(lo) * 0.05, 0.5);
        lo -= pad;
        hi += pad;
        return;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
}

// Round tick values, and as many decimals as the tick step needs.
void setNiceRange(QValueAxis* axis, double lo, double hi) {
    axis->setRange(lo, hi);
    axis->setTickCount(5);
    axis->applyNiceNumbers();
    const double step = (axis->max() - axis->min()) / std::max(1, axis->tickCount() - 1);
    const int decimals = step >= 1 ? 0 : std::min(4, int(std::ceil(-std::log10(step))));
    axis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QStringLiteral("f"));
}

} // namespace

TrendWidget::TrendWidget(const TrendBuffer& buffer, QList<TrendSeriesSpec> series,
                         const QString& leftTitle, const QString& rightTitle, QWidget* parent)
    : QWidget(parent), buffer_(buffer), specs_(std::move(series)) {
    setObjectName(QStringLiteral("TrendPlot"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    auto* controls = new QHBoxLayout;
    pause_ = new QCheckBox(QStringLiteral("Pause"), this);
    pause_->setObjectName(QStringLiteral("CheckTrendPause"));
    window_ = new QComboBox(this);
    window_->setObjectName(QStringLiteral("ComboTrendWindow"));
    for (int m : kWindowMinutes)
        window_->addItem(QStringLiteral("%1 min").arg(m), m);
    window_->setCurrentIndex(kDefaultWindowIndex);
    export_ = new QPushButton(QStringLiteral("Export CSV..."), this);
    export_->setObjectName(QStringLiteral("CommandTrendExport"));
    auto* windowLabel = new QLabel(QStringLiteral("Window"), this);
    controls->addWidget(windowLabel);
    controls->addWidget(window_);
    controls->addWidget(pause_);
    controls->addStretch(1);
    controls->addWidget(export_);
    outer->addLayout(controls);

    chart_ = new QChart;
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setAnimationOptions(QChart::NoAnimation);
    axisX_ = new QValueAxis(chart_);
    axisX_->setTitleText(QStringLiteral("minutes before the newest sample"));
    axisX_->setLabelFormat(QStringLiteral("%.1f"));
    axisLeft_ = new QValueAxis(chart_);
    axisLeft_->setTitleText(leftTitle);
    axisLeft_->setLabelFormat(QStringLiteral("%.1f"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisLeft_, Qt::AlignLeft);
    bool anyRight = false;
    for (const TrendSeriesSpec& s : specs_)
        anyRight = anyRight || s.rightAxis;
    if (anyRight) {
        axisRight_ = new QValueAxis(chart_);
        axisRight_->setTitleText(rightTitle);
        axisRight_->setLabelFormat(QStringLiteral("%.2f"));
        chart_->addAxis(axisRight_, Qt::AlignRight);
    }
    for (int i = 0; i < specs_.size(); ++i) {
        auto* line = new QLineSeries(chart_);
        line->setName(specs_[i].name);
        chart_->addSeries(line);
        line->attachAxis(axisX_);
        line->attachAxis(specs_[i].rightAxis ? axisRight_ : axisLeft_);
        line->setVisible(specs_[i].visible);
        lines_ << line;
    }
    threshold_ = new QLineSeries(chart_);
    threshold_->setName(QStringLiteral("Threshold"));
    QPen dashed(Qt::red);
    dashed.setStyle(Qt::DashLine);
    dashed.setWidth(2);
    threshold_->setPen(dashed);
    chart_->addSeries(threshold_);
    threshold_->attachAxis(axisX_);
    threshold_->attachAxis(axisLeft_);
    threshold_->setVisible(false);

    const QList<QLegendMarker*> markers = chart_->legend()->markers();
    for (QLegendMarker* m : markers) {
        auto* line = qobject_cast<QLineSeries*>(m->series());
        const int i = lines_.indexOf(line);
        if (i < 0) {
            // The threshold's entry shows only while there is a threshold.
            m->setVisible(false);
            continue;
        }
        connect(m, &QLegendMarker::clicked, this, [this, i] { toggleSeries(i); });
    }
    for (int i = 0; i < lines_.size(); ++i)
        updateMarker(i);

    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("TrendChart"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(240);
    outer->addWidget(view_, 1);

    redrawTimer_.setInterval(kRedrawMs);
    connect(&redrawTimer_, &QTimer::timeout, this, &TrendWidget::redraw);
    connect(pause_, &QCheckBox::toggled, this, [this](bool on) {
        if (on && !buffer_.empty())
            pausedAt_ = buffer_.newest().tMs;
        dirty_ = true;
        redraw();
    });
    connect(window_, &QComboBox::currentIndexChanged, this, [this] {
        dirty_ = true;
        redraw();
    });
    connect(export_, &QPushButton::clicked, this, [this] {
        if (onExport)
            onExport();
    });
}

TrendWidget::~TrendWidget() {
    redrawTimer_.stop();
}

void TrendWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    redrawTimer_.start();
    redraw();
}

void TrendWidget::hideEvent(QHideEvent* event) {
    redrawTimer_.stop();
    QWidget::hideEvent(event);
}

void TrendWidget::setSeriesNames(const QStringList& names) {
    for (int i = 0; i < lines_.size() && i < names.size(); ++i)
        if (lines_[i]->name() != names[i])
            lines_[i]->setName(names[i]);
}

void TrendWidget::setThreshold(std::optional<double> value, const QString& caption) {
    if (value == thresholdValue_ && threshold_->name() == caption)
        return;
    thresholdValue_ = value;
    threshold_->setName(caption);
    threshold_->setVisible(value.has_value());
    for (QLegendMarker* m : chart_->legend()->markers(threshold_))
        m->setVisible(value.has_value());
    dirty_ = true;
}

bool TrendWidget::paused() const {
    return pause_->isChecked();
}

int TrendWidget::windowMinutes() const {
    return window_->currentData().toInt();
}

std::optional<std::pair<int64_t, int64_t>> TrendWidget::shownSpan() const {
    if (buffer_.empty())
        return std::nullopt;
    const int64_t end = paused() ? pausedAt_ : buffer_.newest().tMs;
    return std::make_pair(end - static_cast<int64_t>(windowMinutes()) * 60000, end);
}

void TrendWidget::toggleSeries(int i) {
    QLineSeries* line = lines_.value(i);
    if (!line)
        return;
    line->setVisible(!line->isVisible());
    updateMarker(i);
    dirty_ = true;
    redraw();
}

void TrendWidget::updateMarker(int i) {
    QLineSeries* line = lines_.value(i);
    // A hidden line keeps its legend entry, dimmed, so it can come back.
    for (QLegendMarker* m : chart_->legend()->markers(line)) {
        m->setVisible(true);
        QColor label = palette().color(QPalette::WindowText);
        label.setAlphaF(line->isVisible() ? 1.0 : 0.35);
        m->setLabelBrush(label);
        QColor swatch = line->color();
        swatch.setAlphaF(line->isVisible() ? 1.0 : 0.25);
        m->setBrush(swatch);
    }
}

void TrendWidget::redraw() {
    if (paused() && !dirty_)
        return;
    if (!dirty_ && drawnRevision_ == buffer_.revision() && drawnWindow_ == windowMinutes())
        return;
    dirty_ = false;
    drawnRevision_ = buffer_.revision();
    drawnWindow_ = windowMinutes();
    ++redraws_;

    const double window = windowMinutes();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double leftMin = nan, leftMax = nan, rightMin = nan, rightMax = nan;
    const auto span = shownSpan();
    if (!span) {
        for (QLineSeries* l : lines_)
            l->clear();
        threshold_->clear();
        rescale(-window, nan, nan, nan, nan);
        return;
    }
    const int first = buffer_.firstAtOrAfter(span->first);
    const int last = buffer_.firstAtOrAfter(span->second + 1); // one past the end
    const int count = std::max(0, last - first);
    const int stride = std::max(1, (count + kMaxPointsPerSeries - 1) / kMaxPointsPerSeries);
    for (int k = 0; k < lines_.size(); ++k) {
        const int signal = specs_[k].signal;
        QList<QPointF> points;
        points.reserve(count / stride + 2);
        for (int i = first; i < last; i += stride) {
            const TrendBuffer::Sample& s = buffer_.at(i);
            const double v = s.values[static_cast<size_t>(signal)];
            if (!std::isfinite(v))
                continue;
            points.append(QPointF((s.tMs - span->second) / 60000.0, v));
        }
        // The newest sample is always drawn, whatever the thinning skipped.
        if (count > 0 && (last - 1 - first) % stride != 0) {
            const TrendBuffer::Sample& s = buffer_.at(last - 1);
            const double v = s.values[static_cast<size_t>(signal)];
            if (std::isfinite(v))
                points.append(QPointF((s.tMs - span->second) / 60000.0, v));
        }
        lines_[k]->replace(points);
        if (!lines_[k]->isVisible())
            continue;
        double& lo = specs_[k].rightAxis ? rightMin : leftMin;
        double& hi = specs_[k].rightAxis ? rightMax : leftMax;
        for (const QPointF& p : points) {
            if (!(p.y() >= lo))
                lo = std::isfinite(lo) ? std::min(lo, p.y()) : p.y();
            if (!(p.y() <= hi))
                hi = std::isfinite(hi) ? std::max(hi, p.y()) : p.y();
        }
    }
    if (thresholdValue_) {
        threshold_->replace({QPointF(-window, *thresholdValue_), QPointF(0, *thresholdValue_)});
        leftMin = std::isfinite(leftMin) ? std::min(leftMin, *thresholdValue_) : *thresholdValue_;
        leftMax = std::isfinite(leftMax) ? std::max(leftMax, *thresholdValue_) : *thresholdValue_;
    } else {
        threshold_->clear();
    }
    rescale(-window, leftMin, leftMax, rightMin, rightMax);
}

void TrendWidget::rescale(double xMin, double leftMin, double leftMax, double rightMin,
                          double rightMax) {
    axisX_->setRange(xMin, 0);
    // Ticks on round times: every 15 s, every minute, every 10 minutes.
    axisX_->setTickCount(xMin < -30 ? 7 : xMin < -5 ? 11 : 5);
    axisX_->setLabelFormat(xMin < -5 ? QStringLiteral("%.0f") : QStringLiteral("%.2f"));
    niceRange(leftMin, leftMax);
    setNiceRange(axisLeft_, leftMin, leftMax);
    if (axisRight_) {
        niceRange(rightMin, rightMax);
        setNiceRange(axisRight_, rightMin, rightMax);
    }
}

void TrendWidget::exportShownSpan(
    Prompts& prompts, const QString& nothingYet,
    const std::function<QStringList(int64_t, int64_t)>& csvLines) const {
    const QString title = QStringLiteral("Export CSV");
    const auto span = shownSpan();
    if (!span) {
        prompts.message(title, nothingYet, MessageKind::Plain);
        return;
    }
    const QString path = prompts.saveFile(title, QStringLiteral("CSV files{*.csv)|*.csv"));
    if (path.isEmpty())
        return;
    if (const Status written = writeTrendCsv(path, csvLines(span->first, span->second)); !written)
        prompts.message(title, written.error(), MessageKind::Warning);
}

} // namespace gp
