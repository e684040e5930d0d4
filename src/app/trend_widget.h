#pragma once
// A live trend plot of a TrendBuffer: one line per signal against minutes
// before the newest sample, a legend whose entries hide and show their line,
// pause/resume, the time window (1, 10 or 60 minutes) and "Export CSV...".
// The plot only reads the buffer, from its own redraw timer (at most ten
// redraws a second, and none while nothing changed or while paused), so
// whoever appends never waits for a drawing.

#include "app/trend_buffer.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QLineSeries;
class QValueAxis;
class QChart;
class QChartView;

namespace gp {

class Prompts;

struct TrendSeriesSpec {
    int signal = 0;         // column of the buffer
    QString name;           // legend text
    bool rightAxis = false; // drawn against the right-hand axis
    bool visible = true;    // shown at first
};

class TrendWidget : public QWidget {
    Q_OBJECT
  public:
    // The plot moves once a second at most: the value boxes beside it show
    // every sample as it comes, and drawing a chart costs more than the poll
    // that feeds it.
    static constexpr int kRedrawMs = 1000;
    // More points than a plot this wide can show gain nothing; a long window
    // is thinned to about this many per line.
    static constexpr int kMaxPointsPerSeries = 1500;

    TrendWidget(const TrendBuffer& buffer, QList<TrendSeriesSpec> series, const QString& leftTitle,
                const QString& rightTitle = QString(), QWidget* parent = nullptr);
    ~TrendWidget() override;

    // Legend texts (the polled channel's name can change).
    void setSeriesNames(const QStringList& names);
    // A horizontal line across the plot against the left axis, or none.
    void setThreshold(std::optional<double> value, const QString& caption);

    bool paused() const;
    int windowMinutes() const;
    // The span plotted: from .. to in the buffer's milliseconds, or nothing
    // while the buffer is empty.
    std::optional<std::pair<int64_t, int64_t>> shownSpan() const;
    // "Export CSV...": the span on screen, to a file the engineer names.
    // csvLines gives the lines for a span; nothingYet is said while nothing
    // is plotted. Failures are said in a warning.
    void exportShownSpan(Prompts& prompts, const QString& nothingYet,
                         const std::function<QStringList(int64_t, int64_t)>& csvLines) const;

    // Redraws now if anything changed since the last redraw.
    void redraw();
    int redrawCount() const { return redraws_; }
    QChart* chart() const { return chart_; }
    QLineSeries* series(int i) const { return lines_.value(i); }

    // "Export CSV..." was clicked; the view asks for a file and writes the
    // span shown.
    std::function<void()> onExport;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void toggleSeries(int i);
    void updateMarker(int i);
    void rescale(double xMin, double leftMin, double leftMax, double rightMin, double rightMax);

    const TrendBuffer& buffer_;
    QList<TrendSeriesSpec> specs_;
    QTimer redrawTimer_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisLeft_ = nullptr;
    QValueAxis* axisRight_ = nullptr;
    QList<QLineSeries*> lines_;
    QLineSeries* threshold_ = nullptr;
    std::optional<double> thresholdValue_;
    QCheckBox* pause_ = nullptr;
    QComboBox* window_ = nullptr;
    QPushButton* export_ = nullptr;
    uint64_t drawnRevision_ = ~uint64_t{0};
    int drawnWindow_ = -1;
    int64_t pausedAt_ = 0; // the newest sample time when the plot was paused
    int redraws_ = 0;
    bool dirty_ = true;
};

} // namespace gp
