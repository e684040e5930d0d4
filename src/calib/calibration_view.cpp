#include "calib/calibration_view.h"

#include "app/named_widget.h"
#include "calib/calibration.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace gp {

namespace {

QLabel* header(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

} // namespace

CalibrationView::CalibrationView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("CalibrationPanel"));
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;

    {
        auto* frame = new QGroupBox(QStringLiteral("Display"), this);
        frame->setObjectName(QStringLiteral("FrameDisplay"));
        auto* l = new QHBoxLayout(frame);
        l->addWidget(new QLabel(QStringLiteral("Screen Refresh Rate"), frame));
        ComboScreenRate = new QComboBox(frame);
        ComboScreenRate->setObjectName(QStringLiteral("ComboScreenRate"));
        ComboScreenRate->addItems(screenRateItems());
        l->addWidget(ComboScreenRate);
        auto* set =
            namedButton(QStringLiteral("Set"), QStringLiteral("CommandSetScreenRate"), frame);
        l->addWidget(set);
        l->addStretch(1);
        left->addWidget(frame);
        connect(set, &QPushButton::clicked, this,
                [this] { WriteScreenRate(ctx_.link, ComboScreenRate->currentIndex()); });
    }
    {
        auto* frame = new QGroupBox(QStringLiteral("Sensor Characteristics"), this);
        frame->setObjectName(QStringLiteral("FrameSensorCharacteristics"));
        auto* g = new QGridLayout(frame);
        g->addWidget(header(QStringLiteral("Filter"), frame), 0, 1);
        g->addWidget(header(QStringLiteral("Trim"), frame), 0, 2, 1, 3);
        g->addWidget(header(QStringLiteral("A"), frame), 1, 2);
        g->addWidget(header(QStringLiteral("B"), frame), 1, 3);
        g->addWidget(header(QStringLiteral("C"), frame), 1, 4);
        const char* const rows[7] = {"Temperature", "Humidity", "CO2",    "Lux",
                                     "Outside",     "Floor",    "Network"};
        for (int i = 0; i < 7; ++i) {
            g->addWidget(new QLabel(QString::fromLatin1(rows[i]), frame), 2 + i, 0);
            auto* c = new QComboBox(frame);
            c->setObjectName(QStringLiteral("Combofilter_%1").arg(i));
            c->addItems(filterItems());
            Combofilter[static_cast<size_t>(i)] = c;
            connect(c, &QComboBox::activated, this,
                    [this, i] { filterEdited[static_cast<size_t>(i)] = true; });
            g->addWidget(c, 2 + i, 1);
        }
        for (int i = 0; i < 5; ++i) {
            auto* t = new QLineEdit(QStringLiteral("0.0"), frame);
            t->setObjectName(QStringLiteral("TextSensorTrim_%1").arg(i));
            t->setMaximumWidth(110);
            TextSensorTrim[static_cast<size_t>(i)] = t;
            connect(t, &QLineEdit::textEdited, this,
                    [this, i] { trimEdited[static_cast<size_t>(i)] = true; });
        }
        // Temperature has A, B and C; humidity and CO2 only C.
        g->addWidget(TextSensorTrim[4], 2, 2);
        g->addWidget(TextSensorTrim[3], 2, 3);
        g->addWidget(TextSensorTrim[0], 2, 4);
        g->addWidget(TextSensorTrim[1], 3, 4);
        g->addWidget(TextSensorTrim[2], 4, 4);
        auto* set = namedButton(QStringLiteral("Set "), QStringLiteral("CommandSetTrim"), frame);
        g->addWidget(set, 9, 4);
        left->addWidget(frame);
        connect(set, &QPushButton::clicked, this, [this] {
            SensorCharacteristics in;
            for (size_t i = 0; i < in.trims.size(); ++i)
                in.trims[i] = TextSensorTrim[i]->text();
            for (size_t i = 0; i < in.filterIndex.size(); ++i)
                in.filterIndex[i] = Combofilter[i]->currentIndex();
            // What a box shows counts only while its register is still the
            // unit's (not forgotten since, on another port or unit).
            const DeviceState& st = ctx_.link.state;
            for (size_t i = 0; i < in.trims.size(); ++i)
                in.trimTaken[i] =
                    trimEdited[i] || (trimShown[i] && st.known(kFirstTrimRegister + int(i)));
            for (size_t i = 0; i < in.filterIndex.size(); ++i)
                in.filterTaken[i] =
                    filterEdited[i] || (filterShown[i] && st.known(filterSlots()[i].reg));
            const WriteStart w = WriteSensorCharacteristics(ctx_.link, in, QLocale());
            if (w.refused())
                ctx_.prompts.message(QString(), w.refusal(), MessageKind::Warning);
        });
    }
    left->addStretch(1);
    top->addLayout(left);

    {
        auto* frame = new QGroupBox(QStringLiteral("0-10V Ouputs"), this);
        frame->setObjectName(QStringLiteral("FrameOutputs"));
        auto* l = new QVBoxLayout(frame);
        Listcal = new QListWidget(frame);
        Listcal->setObjectName(QStringLiteral("Listcal"));
        Listcal->setMinimumSize(300, 190);
        Listcal->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        l->addWidget(Listcal);
        auto* buttons = new QHBoxLayout;
        auto* read = namedButton(QStringLiteral("Read"), QStringLiteral("CommandReadCal"), frame);
        CommandCalibrate_0 = namedButton(QStringLiteral("Calibrate AOs"),
                                         QStringLiteral("CommandCalibrate_0"), frame);
        buttons->addWidget(read);
        buttons->addWidget(CommandCalibrate_0);
        buttons->addStretch(1);
        l->addLayout(buttons);
        l->addStretch(1);
        top->addWidget(frame, 0, Qt::AlignTop);
        connect(read, &QPushButton::clicked, this, [this] { ctx_.tabs.SelectTab(TabCalibration); });
        connect(CommandCalibrate_0, &QPushButton::clicked, this, [this] {
            if (ctx_.prompts.askYesNo(
                    QStringLiteral("Calibrate AOs"),
                    QStringLiteral("The unit will calibrate its analogue outputs now: they move "
                                   "through their range, so whatever is wired to them sees it, "
                                   "and the present output trims are replaced.\n\nCalibrate now?"),
                    true, true)) {
                CalibrateOutputs(ctx_.link);
                // The coefficients shown are the ones before: greyed and
                // said so until Read shows the new ones.
                for (int i = 0; i < Listcal->count(); ++i)
                    Listcal->item(i)->setForeground(
                        palette().color(QPalette::Disabled, QPalette::Text));
                Listcal->insertItem(0, QStringLiteral("Before the calibration: press Read once "
                                                      "the unit is done to see the new values."));
                Listcal->item(0)->setData(Qt::UserRole + 1, true);
            }
        });
    }
    top->addStretch(1);

    // Whether outputs are fitted is known only from a completed read of
    // this unit: until then the command is not offered.
    CommandCalibrate_0->setEnabled(false);
    ctx_.tabs.readOnSelect[TabCalibration] = [this] {
        CommandCalibrate_0->setEnabled(false);
        CalibrationRead(ctx_.link);
    };
    ctx_.tabs.completion[TabCalibration] = [this] { ShowCalibration(); };
}

CalibrationView::~CalibrationView() {
    ctx_.tabs.readOnSelect[TabCalibration] = nullptr;
    ctx_.tabs.completion[TabCalibration] = nullptr;
}

void CalibrationView::ShowCalibration() {
    const CalibrationDisplay d = gp::ShowCalibration(ctx_.link.state, QLocale());
    Listcal->clear();
    // The list shows name and value in two aligned columns.
    for (const QString& row : d.coefficientRows) {
        const QString name = row.section(QLatin1Char('\t'), 0, 0);
        const QString value = row.section(QLatin1Char('\t'), 1);
        auto* item = new QListWidgetItem(name.leftJustified(18) + value, Listcal);
        item->setData(Qt::UserRole, row);
    }
    CommandCalibrate_0->setEnabled(d.calibrateEnabled);
    const DeviceState& st = ctx_.link.state;
    for (size_t i = 0; i < TextSensorTrim.size(); ++i) {
        TextSensorTrim[i]->setText(d.trims[i]);
        trimShown[i] = st.known(kFirstTrimRegister + int(i));
        trimEdited[i] = false;
    }
    for (size_t i = 0; i < Combofilter.size(); ++i) {
        Combofilter[i]->setCurrentIndex(d.filterIndex[i]);
        filterShown[i] = st.known(filterSlots()[i].reg);
        filterEdited[i] = false;
    }
    if (d.screenRate)
        ComboScreenRate->setCurrentIndex(*d.screenRate);
}

} // namespace gp
