#pragma once
// A live trend plot of a TrendBuffer: one line per signal against minutes
// before the newest sample, a legend whose entries hide and show their line,
// pause/resume, the time window (1, 10 or 60 minutes) and "Export CSV...".
// Each quantity has its own axis, and a time without samples is a gap.
// The plot only reads the buffer, from its own redraw timer (at most one
// redraw a second, and none while nothing changed or while paused), so
// whoever appends never waits for a drawing.

#include "app/trend_buffer.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QLineSeries;
class QValueAxis;
class QChart;
class QChartView;

namespace gp {

class LangDll;

class Prompts;

// A value axis: one per quantity, so that degrees and ohms never share a
// scale. An axis shows while a line drawn against it shows.
struct TrendAxisSpec {
    QString title;                      // the quantity and its unit
    Qt::Alignment side = Qt::AlignLeft; // Qt::AlignLeft or Qt::AlignRight
    // The least span the axis shows: a steady value's noise (a count of an
    // A/D converter, a hundredth of a degree) is not blown up to the height
    // of the plot.
    double minSpan = 0;
};

struct TrendSeriesSpec {
    int signal = 0;      // column of the buffer
    QString name;        // legend text
    int axis = 0;        // index into the axes
    bool visible = true; // shown at first
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

    // A line breaks where samples stop for at least this long, or for three
    // times the usual spacing of its samples when that is longer: a time
    // without samples (another view open, the unit away) is drawn as a gap,
    // not as a straight line that looks like data.
    static constexpr int kMinGapMs = 3000;
    // The most pieces one line is broken into; gaps beyond are drawn joined.
    static constexpr int kMaxPieces = 64;

    TrendWidget(const TrendBuffer& buffer, QList<TrendSeriesSpec> series, QList<TrendAxisSpec> axes,
                QWidget* parent = nullptr);
    ~TrendWidget() override;

    // Legend texts (the polled channel's name can change).
    void setSeriesNames(const QStringList& names);
    // A horizontal line across the plot against the left axis, or none.
    void setThreshold(std::optional<double> value, const QString& caption);
    // Axis titles, legend texts and the threshold's caption in the
    // catalogue's words from now on (the English ones are kept). The
    // catalogue sets it as the plot is shown, so one loaded meanwhile shows.
    void setLanguage(const LangDll& lang);

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
    // The line of series i (its first piece, which holds its legend entry).
    QLineSeries* series(int i) const { return lines_.value(i); }
    // The points of series i as drawn, one list per piece between gaps.
    QList<QList<QPointF>> drawnPieces(int i) const;
    QValueAxis* axis(int i) const { return axes_.value(i); }
    QLineSeries* thresholdLine() const { return threshold_; }

    // "Export CSV..." was clicked; the view asks for a file and writes the
    // span shown.
    std::function<void()> onExport;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QString inLanguage(const QString& english) const;
    void toggleSeries(int i);
    void updateMarker(int i);
    void rescale(double xMin, const std::vector<std::pair<double, double>>& ranges);
    // Draws series k as pieces split at gaps, adding pieces as needed.
    void drawPieces(int k, const QList<QPointF>& points);
    void showAxes();

    const TrendBuffer& buffer_;
    QList<TrendSeriesSpec> specs_;
    QTimer redrawTimer_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QList<TrendAxisSpec> axisSpecs_;
    QList<QValueAxis*> axes_;
    QList<QLineSeries*> lines_;
    // The further pieces of each line after a gap; unused ones are empty.
    QList<QList<QLineSeries*>> pieces_;
    QLineSeries* threshold_ = nullptr;
    QString thresholdCaption_; // English
    const LangDll* lang_ = nullptr;
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
