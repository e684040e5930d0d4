#include "co2/co2_view.h"

#include "app/caption_catalogue.h"
#include "app/trend_widget.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "co2/co2_trend.h"

#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace gp {

Co2View::Co2View(AppContext& ctx, Co2Channel& co2, QWidget* parent)
    : QWidget(parent), ctx_(ctx), link_(&co2.link), settings_(&co2.settings),
      trend_(std::make_unique<Co2Trend>(co2.link)) {
    setObjectName(QStringLiteral("Co2Panel"));
    auto* outer = new QVBoxLayout(this);

    // The live level.
    auto* levelRow = new QHBoxLayout;
    auto* levelCaption = new QLabel(QStringLiteral("CO2 Level"), this);
    levelCaption->setObjectName(QStringLiteral("CO2LevelCaption"));
    CO2ppmLabel = new QLabel(QStringLiteral("----"), this);
    CO2ppmLabel->setObjectName(QStringLiteral("CO2ppmLabel"));
    QFont big = CO2ppmLabel->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    CO2ppmLabel->setFont(big);
    CO2ppmLabel->setMinimumWidth(90);
    CO2ppmLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* levelUnit = new QLabel(QStringLiteral("ppm"), this);
    levelUnit->setObjectName(QStringLiteral("CO2LevelUnit"));
    levelRow->addWidget(levelCaption);
    levelRow->addWidget(CO2ppmLabel);
    levelRow->addWidget(levelUnit);
    levelRow->addStretch(1);
    outer->addLayout(levelRow);

    auto* frame = new QGroupBox(QStringLiteral("CO2 Sensor Settings"), this);
    frame->setObjectName(QStringLiteral("CO2Frame"));
    auto* grid = new QGridLayout(frame);
    outer->addWidget(frame);

    buildSettingsGrid(grid);

    buildButtonRow(outer);

    refusedLabel_ = new QLabel(this);
    refusedLabel_->setObjectName(QStringLiteral("CO2Refused"));
    refusedLabel_->setWordWrap(true);
    refusedLabel_->setStyleSheet(QStringLiteral("color: #b00020;"));
    refusedLabel_->hide();
    outer->addWidget(refusedLabel_);
    link_->onWriteRefused = [this] {
        refusedLabel_->setText(
            ctx_.lang.translate(QStringLiteral("The sensor refused the last write (it answered "
                                               "\"?\") and keeps its old setting.")));
        refusedLabel_->show();
    };

    // The level over time, while the sensor streams.
    {
        auto* trendFrame = new QGroupBox(QStringLiteral("CO2 Trend"), this);
        trendFrame->setObjectName(QStringLiteral("CO2TrendFrame"));
        auto* v = new QVBoxLayout(trendFrame);
        trendPlot_ = new TrendWidget(trend_->buffer(), {{0, QStringLiteral("CO2 (ppm)"), 0, true}},
                                     {{QStringLiteral("ppm"), Qt::AlignLeft, 50}}, trendFrame);
        trendPlot_->onExport = [this] { exportTrend(); };
        v->addWidget(trendPlot_);
        outer->addWidget(trendFrame, 1);
    }

    CO2ReadTimer.setObjectName(QStringLiteral("CO2ReadTimer"));
    CO2WriteTimer.setObjectName(QStringLiteral("CO2WriteTimer"));
    CO2ReadTimer.setInterval(Co2Link::kTickMs);
    CO2WriteTimer.setInterval(Co2Link::kTickMs);
    // Both run all the time; a sequence that is not under way does nothing.
    connect(&CO2ReadTimer, &QTimer::timeout, this, [this] { link_->tickRead(); });
    connect(&CO2WriteTimer, &QTimer::timeout, this, [this] { link_->tickWrite(); });
    CO2ReadTimer.start();
    CO2WriteTimer.start();

    settings_->onChanged = [this] { refresh(); };
    // The window's tabs outlive nothing here: guard the hooks.
    QPointer<Co2View> self(this);
    ctx_.tabs.readOnSelect[TabCO2] = [self] {
        if (self)
            self->link_->Co2Enter();
    };
    ctx_.tabs.co2Leave = [self] {
        if (self)
            self->link_->Co2Leave();
    };
    refresh();
}

void Co2View::exportTrend() {
    trendPlot_->exportShownSpan(
        ctx_.prompts,
        QStringLiteral("Nothing is plotted yet: the sensor has not streamed a level."),
        [this](int64_t from, int64_t to) {
            // Samples are timed in poll ticks; the wall clock only names the
            // rows, counted back from now so that the newest rows carry the
            // time of day.
            const QDateTime wallOrigin = QDateTime::currentDateTime().addMSecs(
                -static_cast<qint64>(ctx_.link.poll.tickCount()) * PollCycle::kTickMs);
            return trendCsvLines(trend_->buffer(), Co2Trend::csvColumns(), from, to, &wallOrigin);
        });
}

QPushButton* Co2View::button(int index, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QStringLiteral("CO2Button_%1").arg(index));
    connect(b, &QPushButton::clicked, this, [this, index] { click(index); });
    return b;
}

// One row a setting: caption, field, unit, the raw value where the sensor
// keeps one, and the row's Write.
void Co2View::buildSettingsGrid(QGridLayout* grid) {
    auto field = [this](int n, bool readOnly = false) {
        auto* e = new QLineEdit(QStringLiteral("---"), this);
        e->setObjectName(QStringLiteral("CO2Text%1").arg(n));
        e->setReadOnly(readOnly);
        e->setMaximumWidth(readOnly ? 80 : 100);
        texts_[static_cast<size_t>(n)] = e;
        return e;
    };
    struct Row {
        const char* caption;
        int field;
        const char* unit;
        int rawField; // 0: none
        int button;
    };
    static constexpr Row kRows[] = {
        {"Filter", FieldFilter, "", 0, ButtonFilter},
        {"Ambient Concentration", FieldAmbient, "ppm", 0, ButtonAmbient},
        {"Initial AutoCalibration Interval", FieldInitialDays, "Days", FieldInitialRaw,
         ButtonInitialInterval},
        {"AutoCalibration Interval", FieldIntervalDays, "Days", FieldIntervalRaw, ButtonInterval},
        {"AutoCalibration Concentration", FieldCalConcentration, "ppm", 0, ButtonCalConcentration},
        {"AutoCalibration Method", 0, "", 0, ButtonMethod},
        {"AutoCalibration Proportion", FieldProportion, "", 0, ButtonProportion},
        {"AutoCalibration Threshold", FieldThreshold, "ppm", 0, ButtonThreshold},
    };
    int r = 0;
    for (const Row& row : kRows) {
        auto* caption = new QLabel(QString::fromLatin1(row.caption), this);
        caption->setObjectName(QStringLiteral("CO2Caption_%1").arg(row.button));
        grid->addWidget(caption, r, 0);
        QList<QWidget*> widgets{caption};
        if (row.field) {
            QLineEdit* e = field(row.field);
            grid->addWidget(e, r, 1);
            widgets << e;
        } else {
            CO2Combo1 = new QComboBox(this);
            CO2Combo1->setObjectName(QStringLiteral("CO2Combo1"));
            for (const QString& item : settings_->fields().methodItems)
                CO2Combo1->addItem(item, item);
            CO2Combo1->setCurrentIndex(-1);
            grid->addWidget(CO2Combo1, r, 1);
            widgets << CO2Combo1;
        }
        if (*row.unit) {
            auto* unit = new QLabel(QString::fromLatin1(row.unit), this);
            unit->setObjectName(QStringLiteral("CO2Unit_%1").arg(row.button));
            grid->addWidget(unit, r, 2);
            widgets << unit;
        }
        if (row.rawField) {
            // The sensor's own count (1/1728 day), labelled as such.
            QLineEdit* raw = field(row.rawField, true);
            raw->setToolTip(QStringLiteral("As the sensor stores it: in 1/1728 day"));
            auto* box = new QHBoxLayout;
            auto* caption = new QLabel(QStringLiteral("stored:"), this);
            caption->setObjectName(QStringLiteral("CO2RawCaption_%1").arg(row.button));
            caption->setBuddy(raw);
            box->addWidget(caption);
            box->addWidget(raw);
            grid->addLayout(box, r, 3);
        }
        QPushButton* write = this->button(row.button, QStringLiteral("Write"));
        grid->addWidget(write, r, 4);
        widgets << write;
        if (row.button == ButtonProportion || row.button == ButtonThreshold)
            advancedRow_ << widgets;
        if (row.button == ButtonMethod)
            methodRow_ << widgets;
        ++r;
    }
    grid->setColumnStretch(5, 1);
}

// Read All, calibrate, and the sensor's two modes.
void Co2View::buildButtonRow(QVBoxLayout* outer) {
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button(ButtonReadAll, QStringLiteral("Read All")));
    buttons->addWidget(button(ButtonCalibrate, QStringLiteral("Calibrate to ambient level now")));
    modeButtons_ << button(ButtonCommandMode, QStringLiteral("Command Mode"))
                 << button(ButtonStreamMode, QStringLiteral("Stream Mode"));
    for (QPushButton* b : modeButtons_)
        buttons->addWidget(b);
    buttons->addStretch(1);
    outer->addLayout(buttons);
}

Co2View::~Co2View() {
    CO2ReadTimer.stop();
    CO2WriteTimer.stop();
    settings_->onChanged = nullptr;
}

void Co2View::gather() {
    for (int n = 1; n < static_cast<int>(texts_.size()); ++n)
        if (QLineEdit* e = texts_[static_cast<size_t>(n)])
            settings_->setText(n, e->text());
    settings_->setMethodIndex(CO2Combo1->currentIndex());
}

void Co2View::click(int button) {
    // Calibration to the ambient level cannot be taken back: the sensor's
    // zero moves to whatever air is around it now.
    if (button == ButtonCalibrate &&
        !ctx_.prompts.askYesNo(
            QStringLiteral("Calibrate to ambient level"),
            QStringLiteral("The CO2 sensor will take the air around it now as its fresh-air "
                           "reference. Unless the unit is in fresh outdoor air, every later "
                           "reading will be off, and the old calibration cannot be restored.\n\n"
                           "Calibrate now?"),
            true, true))
        return;
    refusedLabel_->hide();
    gather();
    settings_->press(button);
}

void Co2View::refresh() {
    const Co2Fields& f = settings_->fields();
    CO2ppmLabel->setText(f.level);
    for (int n = 1; n < static_cast<int>(texts_.size()); ++n) {
        QLineEdit* e = texts_[static_cast<size_t>(n)];
        const QString& t = f.text[static_cast<size_t>(n)];
        // Only what the sensor (or a Write) changed replaces the field, so a
        // stream line does not wipe out what the engineer is typing.
        if (e && shown_[static_cast<size_t>(n)] != t) {
            e->setText(t);
            shown_[static_cast<size_t>(n)] = t;
        }
    }
    // The items are compared by their English text (kept as their data),
    // so that a list the catalogue translated is not filled again each time.
    QStringList items;
    for (int i = 0; i < CO2Combo1->count(); ++i)
        items << CO2Combo1->itemData(i).toString();
    if (items != f.methodItems) {
        CO2Combo1->clear();
        for (const QString& item : f.methodItems)
            CO2Combo1->addItem(item, item);
        applyCatalogue(CO2Combo1, ctx_.lang);
    }
    CO2Combo1->setCurrentIndex(f.methodIndex);
    for (QWidget* w : advancedRow_)
        w->setEnabled(f.advancedRows);
    for (QWidget* w : methodRow_)
        w->setEnabled(Co2Fields::methodRowEnabled);
    for (QPushButton* b : modeButtons_)
        b->setEnabled(Co2Fields::modeButtonsEnabled);
    trendPlot_->setThreshold(co2ThresholdOf(f.advancedRows, f.text[FieldThreshold]),
                             QStringLiteral("Autocalibration threshold"));
}

} // namespace gp
