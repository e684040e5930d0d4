#include "app/trend_widget.h"

#include "app/lang_dll.h"
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
#include <algorithm>
#include <cmath>
#include <limits>

namespace gp {

namespace {

constexpr char kTimeAxisTitle[] = "minutes before the newest sample";

constexpr int kWindowMinutes[3] = {1, 10, 60};
constexpr int kDefaultWindowIndex = 1; // 10 minutes

// Rounds a span out to values an axis can label plainly; a span narrower
// than minSpan is widened to it about its middle.
void niceRange(double& lo, double& hi, double minSpan) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
        return;
    }
    if (hi - lo < minSpan) {
        const double mid = (lo + hi) / 2;
        lo = mid - minSpan / 2;
        hi = mid + minSpan / 2;
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
                         QList<TrendAxisSpec> axes, QWidget* parent)
    : QWidget(parent), buffer_(buffer), specs_(std::move(series)), axisSpecs_(std::move(axes)) {
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
    axisX_->setTitleText(QString::fromLatin1(kTimeAxisTitle));
    axisX_->setLabelFormat(QStringLiteral("%.1f"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    if (axisSpecs_.isEmpty())
        axisSpecs_.append(TrendAxisSpec{});
    for (const TrendAxisSpec& a : axisSpecs_) {
        auto* axis = new QValueAxis(chart_);
        axis->setTitleText(a.title);
        axis->setLabelFormat(QStringLiteral("%.1f"));
        chart_->addAxis(axis, a.side);
        axes_ << axis;
    }
    for (int i = 0; i < specs_.size(); ++i) {
        specs_[i].axis = std::clamp(specs_[i].axis, 0, int(axes_.size()) - 1);
        auto* line = new QLineSeries(chart_);
        line->setName(specs_[i].name);
        chart_->addSeries(line);
        line->attachAxis(axisX_);
        line->attachAxis(axes_[specs_[i].axis]);
        // The theme's five colours would repeat within one plot.
        static const QColor kColours[] = {"#1f77b4", "#2ca02c", "#ff7f0e", "#9467bd", "#d62728",
                                          "#17becf", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"};
        QPen pen = line->pen();
        pen.setColor(kColours[i % std::size(kColours)]);
        line->setPen(pen);
        line->setVisible(specs_[i].visible);
        lines_ << line;
    }
    pieces_.resize(lines_.size());
    threshold_ = new QLineSeries(chart_);
    thresholdCaption_ = QStringLiteral("Threshold");
    threshold_->setName(thresholdCaption_);
    QPen dashed(Qt::red);
    dashed.setStyle(Qt::DashLine);
    dashed.setWidth(2);
    threshold_->setPen(dashed);
    chart_->addSeries(threshold_);
    threshold_->attachAxis(axisX_);
    threshold_->attachAxis(axes_.first());
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
    showAxes();

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
        if (specs_[i].name != names[i]) {
            specs_[i].name = names[i];
            lines_[i]->setName(inLanguage(names[i]));
        }
}

QString TrendWidget::inLanguage(const QString& english) const {
    return lang_ ? lang_->translate(english) : english;
}

void TrendWidget::setLanguage(const LangDll& lang) {
    lang_ = &lang;
    axisX_->setTitleText(inLanguage(QString::fromLatin1(kTimeAxisTitle)));
    for (int i = 0; i < axes_.size(); ++i)
        axes_[i]->setTitleText(inLanguage(axisSpecs_[i].title));
    for (int i = 0; i < lines_.size(); ++i)
        lines_[i]->setName(inLanguage(specs_[i].name));
    threshold_->setName(inLanguage(thresholdCaption_));
}

void TrendWidget::setThreshold(std::optional<double> value, const QString& caption) {
    if (value == thresholdValue_ && thresholdCaption_ == caption)
        return;
    thresholdValue_ = value;
    thresholdCaption_ = caption;
    threshold_->setName(inLanguage(caption));
    threshold_->setVisible(value.has_value());
    for (QLegendMarker* m : chart_->legend()->markers(threshold_))
        m->setVisible(value.has_value());
    showAxes();
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
    for (QLineSeries* piece : pieces_[i])
        piece->setVisible(line->isVisible());
    updateMarker(i);
    showAxes();
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

void TrendWidget::showAxes() {
    for (int a = 0; a < axes_.size(); ++a) {
        bool shown = a == 0 && threshold_ && threshold_->isVisible();
        for (int k = 0; k < lines_.size(); ++k)
            shown = shown || (specs_[k].axis == a && lines_[k]->isVisible());
        axes_[a]->setVisible(shown);
    }
}

QList<QList<QPointF>> TrendWidget::drawnPieces(int i) const {
    QList<QList<QPointF>> drawn;
    if (QLineSeries* line = lines_.value(i))
        drawn << line->points();
    if (i >= 0 && i < pieces_.size())
        for (QLineSeries* piece : pieces_[i])
            if (piece->count() > 0)
                drawn << piece->points();
    return drawn;
}

void TrendWidget::drawPieces(int k, const QList<QPointF>& points) {
    // The usual spacing is the median step between the points drawn (the
    // thinning of a long window included).
    std::vector<double> steps;
    steps.reserve(static_cast<size_t>(points.size()));
    for (qsizetype i = 1; i < points.size(); ++i)
        steps.push_back(points[i].x() - points[i - 1].x());
    double gap = kMinGapMs / 60000.0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + static_cast<ptrdiff_t>(steps.size() / 2),
                         steps.end());
        gap = std::max(gap, 3 * steps[steps.size() / 2]);
    }
    QList<QList<QPointF>> runs{{}};
    for (qsizetype i = 0; i < points.size(); ++i) {
        if (i > 0 && points[i].x() - points[i - 1].x() >= gap && runs.size() < kMaxPieces)
            runs.append(QList<QPointF>{});
        runs.last().append(points[i]);
    }
    lines_[k]->replace(runs.first());
    QList<QLineSeries*>& pieces = pieces_[k];
    while (pieces.size() < runs.size() - 1) {
        // A further piece looks like its line and has no legend entry.
        auto* piece = new QLineSeries(chart_);
        chart_->addSeries(piece);
        piece->attachAxis(axisX_);
        piece->attachAxis(axes_[specs_[k].axis]);
        piece->setPen(lines_[k]->pen());
        for (QLegendMarker* m : chart_->legend()->markers(piece))
            m->setVisible(false);
        pieces << piece;
    }
    for (qsizetype p = 0; p < pieces.size(); ++p) {
        pieces[p]->setVisible(lines_[k]->isVisible());
        if (p + 1 < runs.size())
            pieces[p]->replace(runs[p + 1]);
        else if (pieces[p]->count() > 0)
            pieces[p]->clear();
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
    std::vector<std::pair<double, double>> ranges(static_cast<size_t>(axes_.size()),
                                                  std::make_pair(nan, nan));
    const auto span = shownSpan();
    if (!span) {
        for (int k = 0; k < lines_.size(); ++k)
            drawPieces(k, {});
        threshold_->clear();
        rescale(-window, ranges);
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
        drawPieces(k, points);
        if (!lines_[k]->isVisible())
            continue;
        auto& [lo, hi] = ranges[static_cast<size_t>(specs_[k].axis)];
        for (const QPointF& p : points) {
            if (!(p.y() >= lo))
                lo = std::isfinite(lo) ? std::min(lo, p.y()) : p.y();
            if (!(p.y() <= hi))
                hi = std::isfinite(hi) ? std::max(hi, p.y()) : p.y();
        }
    }
    if (thresholdValue_) {
        threshold_->replace({QPointF(-window, *thresholdValue_), QPointF(0, *thresholdValue_)});
        auto& [lo, hi] = ranges.front();
        lo = std::isfinite(lo) ? std::min(lo, *thresholdValue_) : *thresholdValue_;
        hi = std::isfinite(hi) ? std::max(hi, *thresholdValue_) : *thresholdValue_;
    } else {
        threshold_->clear();
    }
    rescale(-window, ranges);
}

void TrendWidget::rescale(double xMin, const std::vector<std::pair<double, double>>& ranges) {
    axisX_->setRange(xMin, 0);
    // Ticks on round times: every 15 s, every minute, every 10 minutes.
    axisX_->setTickCount(xMin < -30 ? 7 : xMin < -5 ? 11 : 5);
    axisX_->setLabelFormat(xMin < -5 ? QStringLiteral("%.0f") : QStringLiteral("%.2f"));
    for (int a = 0; a < axes_.size(); ++a) {
        auto [lo, hi] = ranges[static_cast<size_t>(a)];
        niceRange(lo, hi, axisSpecs_[a].minSpan);
        setNiceRange(axes_[a], lo, hi);
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
