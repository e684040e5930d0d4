// The CO2 view against the simulated sensor: selecting the tab fills the
// fields and the live level, the enable rules, a Write through the view's
// fields, and leaving the tab giving the line back to the unit.
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "co2/co2_view.h"
#include "sim/co2_sensor.h"
#include "sim/sim_port.h"
#include "support/scripted_prompts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace gp;

namespace {

struct ViewRig {
    QTemporaryDir dir;
    Link link;
    Persist persist{dir.filePath("t.ini")};
    LangDll lang;
    test::ScriptedPrompts prompts;
    ViewTabs tabs{link};
    AppContext ctx{link, persist, lang, prompts, tabs, {}, -1};
    sim::SimPort* port;
    sim::Co2Sensor* sensor;
    Co2Channel co2{link};
    Co2View view{ctx, co2};
    explicit ViewRig(bool advanced = true) {
        auto p = std::make_unique<sim::SimPort>();
        port = p.get();
        sim::Co2SensorOptions o;
        o.advancedCalibration = advanced;
        auto s = std::make_unique<sim::Co2Sensor>(o);
        sensor = s.get();
        port->unit().setPassThroughPeer(std::move(s));
        link.serial.setPort(std::move(p));
        link.serial.choosePort("simunit0");
        view.CO2ReadTimer.stop();
        view.CO2WriteTimer.stop();
    }
    void run(int ms) {
        for (int t = 0; t < ms; t += 20) {
            port->advance(20);
            link.tick();
            if ((t / 20) % 5 == 4)
                view.co2Link().tick();
        }
    }
    template <class T> T* find(const QString& name) {
        T* w = view.findChild<T*>(name);
        if (!w)
            qWarning("no control %s", qPrintable(name));
        return w;
    }
    QString text(int n) { return find<QLineEdit>(QStringLiteral("CO2Text%1").arg(n))->text(); }
};

} // namespace

class TestCo2View : public QObject {
    Q_OBJECT
  private slots:
    void startsEmptyWithTheMethodRowDisabled() {
        ViewRig r;
        QCOMPARE(r.find<QLabel>("CO2ppmLabel")->text(), "----");
        for (int n : {1, 2, 3, 4, 6, 8, 9, 10, 11})
            QCOMPARE(r.text(n), "---");
        QVERIFY(r.find<QLineEdit>("CO2Text3")->isReadOnly());
        QVERIFY(r.find<QLineEdit>("CO2Text4")->isReadOnly());
        // The sensor's raw counts beside the days are labelled.
        int labelled = 0;
        for (QLabel* l : r.view.findChildren<QLabel*>())
            if (l->objectName().startsWith("CO2RawCaption_") && l->buddy() &&
                l->buddy()->objectName().startsWith("CO2Text"))
                ++labelled;
        QCOMPARE(labelled, 2);
        QCOMPARE(r.find<QComboBox>("CO2Combo1")->count(), 5);
        QVERIFY(!r.find<QComboBox>("CO2Combo1")->isEnabled());
        for (int b : {2, 4, 10, 12, 13})
            QVERIFY(!r.find<QPushButton>(QStringLiteral("CO2Button_%1").arg(b))->isEnabled());
        for (int b : {0, 1, 3, 5, 7, 15, 20})
            QVERIFY(r.find<QPushButton>(QStringLiteral("CO2Button_%1").arg(b))->isEnabled());
    }

    void selectingTheTabFillsTheFieldsAndLevel_data() {
        QTest::addColumn<bool>("advanced");
        QTest::newRow("sensor with parameter 16") << true;
        QTest::newRow("sensor without parameter 16") << false;
    }
    void selectingTheTabFillsTheFieldsAndLevel() {
        QFETCH(bool, advanced);
        ViewRig r(advanced);
        r.tabs.SelectTab(TabCO2);
        r.run(4000);
        QCOMPARE(r.text(FieldAmbient), "400");
        QCOMPARE(r.text(FieldIntervalDays), "8");
        QCOMPARE(r.find<QComboBox>("CO2Combo1")->currentText(), "Standard");
        QVERIFY(r.find<QLabel>("CO2ppmLabel")->text().toInt() > 0);
        QCOMPARE(r.find<QPushButton>("CO2Button_2")->isEnabled(), advanced);
        QCOMPARE(r.find<QLineEdit>("CO2Text11")->isEnabled(), advanced);
        QVERIFY(!r.find<QPushButton>("CO2Button_10")->isEnabled());
        if (qEnvironmentVariableIsSet("GP_CO2_VIEW_PNG"))
            r.view.grab().save(qEnvironmentVariable("GP_CO2_VIEW_PNG"));
    }

    // Calibration to the ambient level cannot be undone: it asks first,
    // and only Yes sends "G" to the sensor.
    void calibrateToAmbientAsksFirst_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no (the default)") << false;
        QTest::newRow("yes") << true;
    }

    void calibrateToAmbientAsksFirst() {
        QFETCH(bool, yes);
        ViewRig r;
        r.tabs.SelectTab(TabCO2);
        r.run(4000);
        r.prompts.answers << yes;
        r.find<QPushButton>(QStringLiteral("CO2Button_%1").arg(ButtonCalibrate))->click();
        r.run(4000);
        QCOMPARE(r.prompts.asked.size(), 1);
        QVERIFY(r.prompts.asked.first().contains("cannot be restored"));
        QCOMPARE(r.sensor->commands().contains("G"), yes);
    }

    void writeTakesWhatIsTypedAndLeavingGivesTheLineBack() {
        ViewRig r;
        r.tabs.SelectTab(TabCO2);
        r.run(4000);
        auto* ambient = r.find<QLineEdit>("CO2Text2");
        ambient->setText("450");
        // A stream line arriving while the engineer types keeps the text.
        r.run(1500);
        QCOMPARE(ambient->text(), "450");
        r.find<QPushButton>("CO2Button_3")->click();
        r.run(4000);
        QCOMPARE(r.sensor->param(10), 1);
        QCOMPARE(r.sensor->param(11), 194);
        QCOMPARE(ambient->text(), "450");
        r.tabs.SelectTab(TabDevice);
        r.run(200);
        QCOMPARE(r.sensor->commands().last(), "K 1");
        QCOMPARE(r.port->unit().mode(), sim::SimUnit::Mode::Protocol);
        QVERIFY(!r.link.serial.Co2PassThrough);
    }

    // The sensor answers " ?" to a filter with a fraction and keeps its old
    // one: the view says so, and the next write clears the message.
    void refusedWriteIsShown() {
        ViewRig r;
        r.tabs.SelectTab(TabCO2);
        r.run(4000);
        auto* refused = r.find<QLabel>("CO2Refused");
        QVERIFY(refused->isHidden());
        r.find<QLineEdit>("CO2Text1")->setText("16.7");
        r.find<QPushButton>("CO2Button_1")->click();
        r.run(4000);
        QVERIFY(!refused->isHidden());
        QVERIFY2(refused->text().contains("refused"), qPrintable(refused->text()));
        r.find<QLineEdit>("CO2Text1")->setText("16");
        r.find<QPushButton>("CO2Button_1")->click();
        QVERIFY(refused->isHidden());
        r.run(4000);
        QVERIFY(refused->isHidden());
    }
};

QTEST_MAIN(TestCo2View)
#include "test_co2_view.moc"
