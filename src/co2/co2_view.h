#pragma once
// The CO2 sensor view: the live level and the sensor's settings, with a Write
// button per setting. Selecting the view opens the pass-through to the
// sensor; leaving it (or closing the window) ends it.

#include "app/app_context.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QComboBox;
class QGridLayout;
class QLabel;
class QVBoxLayout;
class QLineEdit;
class QPushButton;

namespace gp {

class Co2Link;
class Co2Settings;
struct Co2Channel;
class Co2Trend;
class TrendWidget;

class Co2View : public QWidget {
    Q_OBJECT
  public:
    Co2View(AppContext& ctx, Co2Channel& co2, QWidget* parent = nullptr);
    ~Co2View() override;

    Co2Link& co2Link() { return *link_; }
    Co2Settings& settings() { return *settings_; }
    // The levels streamed while the view was on screen, and their plot.
    Co2Trend& trend() { return *trend_; }
    TrendWidget* trendPlot() const { return trendPlot_; }

    // The sensor's two 100 ms sequences.
    QTimer CO2ReadTimer;
    QTimer CO2WriteTimer;

  private:
    QPushButton* button(int index, const QString& caption);
    void buildSettingsGrid(QGridLayout* grid);
    void buildButtonRow(QVBoxLayout* outer);
    void gather();
    void refresh();
    void click(int button);
    void exportTrend();

    AppContext& ctx_;
    Co2Link* link_;
    Co2Settings* settings_;
    // After the settings: it listens to the level behind them and must go
    // first.
    std::unique_ptr<Co2Trend> trend_;
    TrendWidget* trendPlot_ = nullptr;
    QLabel* CO2ppmLabel = nullptr;
    // Says that the sensor answered a write with " ?"; hidden until then
    // and again at the next write.
    QLabel* refusedLabel_ = nullptr;
    QComboBox* CO2Combo1 = nullptr;
    std::array<QLineEdit*, 12> texts_{};
    std::array<QString, 12> shown_; // the core's text last put into each field
    QList<QWidget*> advancedRow_;
    QList<QWidget*> methodRow_;
    QList<QPushButton*> modeButtons_;
};

} // namespace gp
