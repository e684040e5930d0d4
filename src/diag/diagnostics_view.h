#pragma once
// The diagnostics view: reset cause and chip, the live analogue channel and
// sensor input polls, and the engineering debug tools (TFT, debug values,
// debug flags, string table export). Controls carry the names the service
// documentation uses for them.

#include "app/app_context.h"
#include "diag/diagnostics.h"
#include "diag/diagnostics_trend.h"

#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QGridLayout;
class QVBoxLayout;
class QComboBox;
class QLabel;
class QTimer;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace gp {

class TrendWidget;

class DiagnosticsView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPollRetryMs = 1000;
    DiagnosticsView(AppContext& ctx, QWidget* parent = nullptr);
    ~DiagnosticsView() override;

    // The "Product Config" frame lives in the configuration tools beside this
    // view; the window connects its refresh from the registers here, and the
    // diagnostics refresh runs it.
    std::function<void()> showProductConfig;

    // `DiagnosticsRead`: channel 0 selected, A2D range reset, batch started.
    void DiagnosticsRead();
    // The completion step of the tab: refresh, then the ticked polls.
    void batchCompleted();
    const A2DRange& a2dRange() const { return range_; }
    // The samples of the live polls and their plot.
    const DiagnosticsTrend& trend() const { return trend_; }
    TrendWidget* trendPlot() const { return trendPlot_; }

  private:
    void buildResetAndChip(QVBoxLayout* left);
    void buildA2D(QVBoxLayout* left);
    void buildSensors(QVBoxLayout* left);
    void buildTft(QVBoxLayout* right);
    void buildDebugData(QVBoxLayout* right);
    void buildDebugFlags(QVBoxLayout* right);
    void buildExportButton(QVBoxLayout* right);
    void buildTrend(QGridLayout* grid);
    void ShowDiagnostics();
    void runPolls(bool a2d, bool temps);
    void showDebugValues();
    void exportTrend();
    QLineEdit* box(const QString& name);
    // Starts the ticked polls again while the view is shown and the link free.
    void resumePolls();
    // A poll that ended without its answers: the values shown are no longer
    // current (greyed, said in their tooltip), and the ticked polls are
    // tried again every second until the unit answers.
    void pollEnded(const BatchStats& s, bool completed);
    void setStale(bool stale);

    AppContext& ctx_;
    int pollBatch_ = 0;   // the batch of the latest poll
    int endListener_ = 0; // token of pollEnded's subscription
    QTimer* retry_ = nullptr;
    bool stale_ = false;
    A2DRange range_;
    DiagnosticsTrend trend_;
    TrendWidget* trendPlot_ = nullptr;

    QLabel* LabelResetCause = nullptr;
    QLineEdit* Text1_33 = nullptr;
    QLineEdit* Text1_34 = nullptr;
    QComboBox* Combo1 = nullptr;
    QCheckBox* CheckPollA2D = nullptr;
    QCheckBox* CheckPollTemps = nullptr;
    std::array<QLineEdit*, 6> a2dBoxes{};    // Count, V, R, Min, Max, %
    std::array<QLineEdit*, 9> sensorBoxes{}; // Text1(22..32) of the sensor rows
    QLineEdit* TextSpi = nullptr;
    std::array<QLineEdit*, 4> Text2{};
    QListWidget* ListDebug = nullptr;
    std::array<QCheckBox*, 32> CheckIOE{};
};

} // namespace gp
