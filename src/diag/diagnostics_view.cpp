#include "diag/diagnostics_view.h"

#include "app/named_widget.h"
#include "app/trend_widget.h"
#include "diag/debug_tools.h"
#include "diag/diagnostics.h"
#include "unit/bulk_transfer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

namespace {

const char* const kDebugFlagCaptions[32] = {
    "PSU",   "Screen off", "Buzz on", "Buzz Freq", "SpeedUp", "EMC",     "6",    "Clear",
    "8",     "9",          "10",      "RTP Cal",   "12",      "Show XY", "BL_0", "BL_100",
    "BL_50", "17",         "18",      "19",        "20",      "21",      "22",   "23",
    "24",    "25",         "26",      "27",        "28",      "29",      "30",   "Init Screen"};

// Value boxes of the sensor rows, top to bottom; the last row is a spare.
constexpr int kSensorBoxIds[9] = {22, 23, 26, 27, 28, 29, 30, 31, 32};
// A2D boxes: Count, V, R, Min, Max, %.
constexpr int kA2DBoxIds[6] = {13, 12, 0, 11, 10, 9};
const char* const kA2DCaptions[6] = {"Count", "V", "R", "Min", "Max", "%"};

QStringList seriesNamesFor(const DiagnosticsTrend& trend) {
    const QStringList names = trend.seriesNames();
    QStringList shown{names[DiagnosticsTrend::kA2DVolts]};
    shown << names.mid(DiagnosticsTrend::kFirstSensor);
    return shown;
}

} // namespace

QLineEdit* DiagnosticsView::box(const QString& name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    e->setReadOnly(true);
    e->setMinimumWidth(80);
    return e;
}

DiagnosticsView::DiagnosticsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("DiagnosticsPanel"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);

    // Left column: reset cause, chip, A2D, sensors.
    auto* left = new QVBoxLayout;
    buildResetAndChip(left);
    buildA2D(left);
    buildSensors(left);
    left->addStretch(1);
    grid->addLayout(left, 0, 0);

    // Right column: the debug tools.
    auto* right = new QVBoxLayout;
    buildTft(right);
    buildDebugData(right);
    buildDebugFlags(right);
    buildExportButton(right);
    right->addStretch(1);
    grid->addLayout(right, 0, 1);

    buildTrend(grid);

    ctx_.tabs.readOnSelect[TabDiagnostics] = [this] { DiagnosticsRead(); };
    ctx_.tabs.completion[TabDiagnostics] = [this] { batchCompleted(); };
    ctx_.link.state.onDebugValuesChanged = [this] { showDebugValues(); };
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    retry_->setInterval(kPollRetryMs);
    connect(retry_, &QTimer::timeout, this, &DiagnosticsView::resumePolls);
    endListener_ = ctx_.link.poll.subscribe(
        [this](const BatchStats& s, bool completed) { pollEnded(s, completed); }, true);
    // The ticked polls paused for a transfer go on when it is over.
    ctx_.link.onTransferEnded = [this] { resumePolls(); };
    showDebugValues();
}

void DiagnosticsView::buildResetAndChip(QVBoxLayout* left) {
    auto* g = new QGridLayout;
    g->addWidget(new QLabel(QStringLiteral("Last Reset Cause:"), this), 0, 0);
    LabelResetCause = new QLabel(this);
    LabelResetCause->setObjectName(QStringLiteral("LabelResetCause"));
    LabelResetCause->setMinimumWidth(180);
    g->addWidget(LabelResetCause, 0, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Processor ChipID"), this), 1, 0);
    Text1_33 = box(QStringLiteral("Text1_33"));
    Text1_34 = box(QStringLiteral("Text1_34"));
    g->addWidget(Text1_33, 1, 1);
    g->addWidget(Text1_34, 1, 2);
    left->addLayout(g);
}

void DiagnosticsView::buildA2D(QVBoxLayout* left) {
    auto* frame = new QGroupBox(QStringLiteral("A2D"), this);
    frame->setObjectName(QStringLiteral("FrameA2D"));
    auto* g = new QGridLayout(frame);
    Combo1 = new QComboBox(frame);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    const QStringList names = a2dChannelNames();
    for (int i = 0; i < names.size(); ++i)
        Combo1->addItem(names[i], i);
    g->addWidget(Combo1, 0, 0, 1, 2);
    CheckPollA2D = new QCheckBox(QStringLiteral("Poll"), frame);
    CheckPollA2D->setObjectName(QStringLiteral("CheckPollA2D"));
    g->addWidget(CheckPollA2D, 0, 2);
    auto* reset = namedButton(QStringLiteral("Reset"), QStringLiteral("Command7"), frame);
    g->addWidget(reset, 0, 3);
    for (int i = 0; i < 6; ++i) {
        a2dBoxes[static_cast<size_t>(i)] = box(QStringLiteral("Text1_%1").arg(kA2DBoxIds[i]));
        const int row = 1 + i / 2;
        const int col = (i % 2) * 2;
        g->addWidget(new QLabel(QString::fromLatin1(kA2DCaptions[i]), frame), row, col);
        g->addWidget(a2dBoxes[static_cast<size_t>(i)], row, col + 1);
    }
    left->addWidget(frame);
    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] { range_.reset(); });
    connect(reset, &QPushButton::clicked, this, [this] { range_.reset(); });
    connect(CheckPollA2D, &QCheckBox::clicked, this, [this] {
        range_.reset();
        runPolls(true, false);
    });
}

void DiagnosticsView::buildSensors(QVBoxLayout* left) {
    auto* frame = new QGroupBox(QStringLiteral("Sensors"), this);
    frame->setObjectName(QStringLiteral("FrameSensors"));
    auto* g = new QGridLayout(frame);
    const auto& rows = sensorRows();
    for (int i = 0; i < 9; ++i) {
        const QString caption =
            i < 8 ? QString::fromLatin1(rows[static_cast<size_t>(i)].caption) : "???";
        auto* label = new QLabel(caption, frame);
        label->setObjectName(QStringLiteral("Label16_%1").arg(i));
        sensorBoxes[static_cast<size_t>(i)] = box(QStringLiteral("Text1_%1").arg(kSensorBoxIds[i]));
        g->addWidget(label, i, 0);
        g->addWidget(sensorBoxes[static_cast<size_t>(i)], i, 1);
    }
    CheckPollTemps = new QCheckBox(QStringLiteral("Poll"), frame);
    CheckPollTemps->setObjectName(QStringLiteral("CheckPollTemps"));
    g->addWidget(CheckPollTemps, 0, 2);
    left->addWidget(frame);
    connect(CheckPollTemps, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            runPolls(false, true);
    });
}

void DiagnosticsView::buildTft(QVBoxLayout* right) {
    auto* frame = new QGroupBox(QStringLiteral("TFT"), this);
    frame->setObjectName(QStringLiteral("FrameTFT"));
    auto* g = new QGridLayout(frame);
    g->addWidget(new QLabel(QStringLiteral("SPI Rate"), frame), 0, 0);
    TextSpi = new QLineEdit(frame);
    TextSpi->setObjectName(QStringLiteral("TextSpi"));
    TextSpi->setMaximumWidth(80);
    g->addWidget(TextSpi, 0, 1);
    auto* read = namedButton(QStringLiteral("Read"), QStringLiteral("Command5"), frame);
    auto* write = namedButton(QStringLiteral("Write"), QStringLiteral("Command2"), frame);
    g->addWidget(read, 0, 2);
    g->addWidget(write, 0, 3);
    g->addWidget(new QLabel(QStringLiteral("Calib."), frame), 1, 0);
    const char* const captions[4] = {"ADC Min_X", "ADC Max_X", "ADC Min_Y", "ADC Max_Y"};
    for (int i = 0; i < 4; ++i) {
        Text2[static_cast<size_t>(i)] = box(QStringLiteral("Text2_%1").arg(i));
        g->addWidget(new QLabel(QString::fromLatin1(captions[i]), frame), 2 + i / 2, (i % 2) * 2);
        g->addWidget(Text2[static_cast<size_t>(i)], 2 + i / 2, (i % 2) * 2 + 1);
    }
    right->addWidget(frame);
    connect(read, &QPushButton::clicked, this, [this] { ctx_.tabs.SelectTab(TabDiagnostics); });
    connect(write, &QPushButton::clicked, this, [this] {
        if (const auto frame = spiRateFrame(TextSpi->text()))
            ctx_.link.SendMsg(*frame);
    });
}

void DiagnosticsView::buildDebugData(QVBoxLayout* right) {
    auto* frame = new QGroupBox(QStringLiteral("DEBUG Data"), this);
    frame->setObjectName(QStringLiteral("FrameDebugData"));
    auto* g = new QGridLayout(frame);
    ListDebug = new QListWidget(frame);
    ListDebug->setObjectName(QStringLiteral("ListDebug"));
    ListDebug->setMinimumHeight(120);
    // Wide enough for "[10]=XXXXXXXX" beside its scroll bar at any scale:
    // squeezed, the values are cut off.
    ListDebug->setMinimumWidth(
        ListDebug->fontMetrics().horizontalAdvance(QStringLiteral("[10]=00000000")) +
        ListDebug->verticalScrollBar()->sizeHint().width() + 2 * ListDebug->frameWidth() + 12);
    g->addWidget(ListDebug, 0, 0, 4, 1);
    auto* read = namedButton(QStringLiteral("Read"), QStringLiteral("Command1"), frame);
    g->addWidget(read, 0, 1);
    connect(read, &QPushButton::clicked, this, [this] { DebugRead(ctx_.link); });
    for (int i = 0; i < 7; ++i) {
        auto* b = namedButton(QStringLiteral("Debug%1").arg(i + 1),
                              QStringLiteral("Command6_%1").arg(i), frame);
        g->addWidget(b, 1 + i / 3, 1 + i % 3);
        connect(b, &QPushButton::clicked, this, [this, i] {
            if (i == 1)
                ReadAllRegisters(ctx_.link);
            else if (i == 2) {
                const WriteStart w = WriteAllRegistersAsking(ctx_.link, ctx_.prompts);
                if (w.refused())
                    ctx_.prompts.message(QString(), w.refusal(), MessageKind::Warning);
            } else if (const auto f = debugCommandFrame(i))
                ctx_.link.SendMsg(*f);
        });
    }
    right->addWidget(frame);
}

void DiagnosticsView::buildDebugFlags(QVBoxLayout* right) {
    auto* frame = new QGroupBox(QStringLiteral("DEBUG Flags"), this);
    frame->setObjectName(QStringLiteral("FrameDebugFlags"));
    auto* g = new QGridLayout(frame);
    for (int i = 0; i < 32; ++i) {
        auto* c = new QCheckBox(QString::fromLatin1(kDebugFlagCaptions[i]), frame);
        c->setObjectName(QStringLiteral("CheckIOE_%1").arg(i));
        CheckIOE[static_cast<size_t>(i)] = c;
        g->addWidget(c, i % 8, i / 8);
    }
    auto* write = namedButton(QStringLiteral("Write"), QStringLiteral("Command8"), frame);
    g->addWidget(write, 8, 3);
    connect(write, &QPushButton::clicked, this, [this] {
        std::array<bool, 32> ticked{};
        for (size_t i = 0; i < ticked.size(); ++i)
            ticked[i] = CheckIOE[i]->isChecked();
        ctx_.link.SendMsg(debugFlagsFrame(ticked));
    });
    right->addWidget(frame);
}

void DiagnosticsView::buildExportButton(QVBoxLayout* right) {
    auto* exportButton =
        namedButton(QStringLiteral("Export String Table"), QStringLiteral("Command3"), this);
    right->addWidget(exportButton, 0, Qt::AlignLeft);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        if (const Status written = ExportStringTable(QString::fromLatin1(kStringTableFile));
            !written)
            ctx_.prompts.message(QString(), written.error(), MessageKind::Warning);
    });
}

// The plot of the live polls, under both columns; the boxes above keep
// showing the numbers.
void DiagnosticsView::buildTrend(QGridLayout* grid) {
    // Each quantity on an axis of its own, shown while one of its lines is:
    // degrees, per cent humidity, ohms and the raw counts never share a
    // scale. The temperatures and the polled channel show at first; the
    // others wait in the legend.
    // The axes in the order of SensorQuantity, then the volts.
    const QList<TrendAxisSpec> axes{{QStringLiteral("temperature (\u00b0C)"), Qt::AlignLeft, 1.0},
                                    {QStringLiteral("humidity (%RH)"), Qt::AlignLeft, 2.0},
                                    {QStringLiteral("resistance (\u03a9)"), Qt::AlignLeft, 20.0},
                                    {QStringLiteral("raw input (counts)"), Qt::AlignLeft, 20.0},
                                    // Some fifty counts of the A/D converter at least.
                                    {QStringLiteral("A2D (V)"), Qt::AlignRight, 0.05}};
    const int volts = static_cast<int>(axes.size()) - 1;
    QList<TrendSeriesSpec> series;
    const QStringList names = trend_.seriesNames();
    series.append({DiagnosticsTrend::kA2DVolts, names[DiagnosticsTrend::kA2DVolts], volts, true});
    for (int i = DiagnosticsTrend::kFirstSensor; i < DiagnosticsTrend::kSignals; ++i) {
        const SensorQuantity q =
            sensorRows()[static_cast<size_t>(i - DiagnosticsTrend::kFirstSensor)].quantity;
        series.append({i, names[i], static_cast<int>(q), q == SensorQuantity::Degrees});
    }
    auto* frame = new QGroupBox(QStringLiteral("Trend"), this);
    frame->setObjectName(QStringLiteral("FrameTrend"));
    auto* v = new QVBoxLayout(frame);
    trendPlot_ = new TrendWidget(trend_.buffer(), series, axes, frame);
    trendPlot_->onExport = [this] { exportTrend(); };
    v->addWidget(trendPlot_);
    grid->addWidget(frame, 1, 0, 1, 2);
    grid->setRowStretch(1, 1);
}

DiagnosticsView::~DiagnosticsView() {
    ctx_.tabs.readOnSelect[TabDiagnostics] = nullptr;
    ctx_.tabs.completion[TabDiagnostics] = nullptr;
    ctx_.link.state.onDebugValuesChanged = nullptr;
    ctx_.link.onTransferEnded = nullptr;
    ctx_.link.poll.unsubscribe(endListener_);
}

void DiagnosticsView::resumePolls() {
    if (ctx_.tabs.ActiveTab() == TabDiagnostics && !ctx_.link.busy())
        runPolls(CheckPollA2D->isChecked(), CheckPollTemps->isChecked());
}

void DiagnosticsView::pollEnded(const BatchStats& s, bool completed) {
    if (s.id != pollBatch_ || pollBatch_ == 0)
        return;
    // A completed poll is shown fresh by the completion step.
    if (completed)
        return;
    // The completion step, which starts the next poll, runs only on the
    // reply to the batch's last frame: without it the polls would stop here
    // until Connect was pressed.
    setStale(true);
    retry_->start();
}

void DiagnosticsView::setStale(bool stale) {
    if (stale == stale_)
        return;
    stale_ = stale;
    const QString said = ctx_.lang.translate(
        stale ? QStringLiteral("Not current: the unit did not answer the poll since %1. The polls "
                               "go on by themselves once it answers again; check cable, power "
                               "and port meanwhile.")
                    .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))
              : QString());
    for (QLineEdit* b : a2dBoxes) {
        b->setEnabled(!stale);
        b->setToolTip(said);
    }
    for (QLineEdit* b : sensorBoxes) {
        if (!b)
            continue;
        b->setEnabled(!stale);
        b->setToolTip(said);
    }
}

void DiagnosticsView::DiagnosticsRead() {
    Combo1->setCurrentIndex(0);
    gp::DiagnosticsRead(ctx_.link, range_);
}

void DiagnosticsView::batchCompleted() {
    // The poll batch that just ended becomes a sample before anything else
    // starts the next one.
    if (trend_.batchCompleted(ctx_.link))
        trendPlot_->setSeriesNames(seriesNamesFor(trend_));
    setStale(false);
    ShowDiagnostics();
    runPolls(CheckPollA2D->isChecked(), CheckPollTemps->isChecked());
}

void DiagnosticsView::ShowDiagnostics() {
    const DiagnosticsDisplay d = gp::ShowDiagnostics(ctx_.link.state);
    if (d.resetCause)
        LabelResetCause->setText(ctx_.lang.translate(*d.resetCause));
    for (size_t i = 0; i < CheckIOE.size(); ++i)
        CheckIOE[i]->setChecked(d.debugFlags[i]);
    Text1_33->setText(d.chipIdHex);
    if (d.chipName)
        Text1_34->setText(*d.chipName);
    TextSpi->setText(d.spiRate);
    for (size_t i = 0; i < Text2.size(); ++i)
        Text2[i]->setText(d.touchAdc[i]);
    if (showProductConfig)
        showProductConfig();
}

void DiagnosticsView::runPolls(bool a2d, bool temps) {
    // A save or load holds the link; the polls resume when it ends.
    if (ctx_.link.transferHeld())
        return;
    std::optional<int> channel;
    if (a2d)
        channel = Combo1->currentIndex();
    const bool displacing = ctx_.link.busy();
    const PollResult r = gp::runPolls(ctx_.link, channel, temps, range_, QLocale());
    pollBatch_ = r.batchId;
    trend_.pollStarted(r.batchId, channel, temps, displacing);
    if (r.a2d) {
        const QString texts[6] = {r.a2d->count, r.a2d->volts, r.a2d->ohms,
                                  r.a2d->min,   r.a2d->max,   r.a2d->percent};
        for (size_t i = 0; i < a2dBoxes.size(); ++i)
            a2dBoxes[i]->setText(texts[i]);
    }
    if (r.sensors) {
        for (int i = 0; i < r.sensors->size() && i < 8; ++i)
            sensorBoxes[static_cast<size_t>(i)]->setText(r.sensors->at(i));
    }
}

void DiagnosticsView::exportTrend() {
    trendPlot_->exportShownSpan(
        ctx_.prompts, QStringLiteral("Nothing is plotted yet: tick \"Poll\" first."),
        [this](int64_t from, int64_t to) {
            return trendCsvLines(trend_.buffer(), trend_.csvColumns(), from, to);
        });
}

void DiagnosticsView::showDebugValues() {
    ListDebug->clear();
    ListDebug->addItems(ListDebugValues(ctx_.link.state));
}

} // namespace gp
