// The diagnostics and calibration views offscreen against the simulated
// unit: the tab's read fills the boxes, the "Poll" boxes keep the polls
// going until unticked or the tab is left, the debug buttons send their
// frames, and the calibration view's buttons write what it shows.
#include "app/app_context.h"
#include "calib/calibration.h"
#include "calib/calibration_view.h"
#include "config/config_load.h"
#include "config/save_config.h"
#include "diag/diagnostics_view.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <bit>

using namespace gp;

namespace {
struct ViewRig {
    test::SimRig sim;
    QTemporaryDir dir;
    Persist persist{dir.filePath("glimmerpane.ini")};
    LangDll lang;
    test::ScriptedPrompts prompts;
    ViewTabs tabs{sim.link};
    AppContext ctx{sim.link, persist, lang, prompts, tabs, OperatingMode{true, true}, -1};
    QWidget window;
    DiagnosticsView* diag = new DiagnosticsView(ctx, &window);
    CalibrationView* calib = new CalibrationView(ctx, &window);

    template <class T> T* find(const QString& name) {
        T* w = window.findChild<T*>(name);
        if (!w)
            qWarning("no control %s", qPrintable(name));
        return w;
    }
    QStringList sentSince(int from) const {
        const QStringList& h = sim.port->unit().frameHistory();
        return h.mid(from);
    }
    int sentCount() const { return static_cast<int>(sim.port->unit().frameHistory().size()); }
    void snapshot(QWidget* w, const char* file) {
        if (!qEnvironmentVariableIsSet("GP_SNAPSHOT_DIR"))
            return;
        window.show();
        for (QWidget* other : {static_cast<QWidget*>(diag), static_cast<QWidget*>(calib)})
            other->setVisible(other == w);
        w->resize(w->sizeHint());
        window.resize(w->sizeHint());
        QCoreApplication::processEvents();
        w->grab().save(qEnvironmentVariable("GP_SNAPSHOT_DIR") + '/' + file);
    }
};
} // namespace

class TestDiagnosticsView : public QObject {
    Q_OBJECT
  private slots:
    void selectingTheTabFillsTheView() {
        ViewRig r;
        r.tabs.SelectTab(TabDiagnostics);
        QCOMPARE(r.sim.runBatch(), -1);
        QCOMPARE(r.find<QLabel>("LabelResetCause")->text(), QString("Power-up"));
        QVERIFY(r.find<QLineEdit>("Text1_34")->text().startsWith("SAM"));
        QCOMPARE(r.find<QLineEdit>("Text1_33")->text().size(), 8);
        // Touch calibration registers come from the whole-bank read only:
        // never read, they show empty, not 0.
        QCOMPARE(r.find<QLineEdit>("Text2_0")->text(), QString());
        QCOMPARE(r.find<QCheckBox>("CheckIOE_31")->text(), QString("Init Screen"));
        r.snapshot(r.diag, "diagnostics_view.png");
    }

    void continuousPollingStops_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("leaveTab"); // else untick
        QTest::newRow("A2D unticked") << "CheckPollA2D" << false;
        QTest::newRow("A2D, tab left") << "CheckPollA2D" << true;
        QTest::newRow("sensors unticked") << "CheckPollTemps" << false;
        QTest::newRow("sensors, tab left") << "CheckPollTemps" << true;
    }
    void continuousPollingStops() {
        QFETCH(QString, box);
        QFETCH(bool, leaveTab);
        ViewRig r;
        r.tabs.SelectTab(TabDiagnostics);
        r.sim.runBatch();
        r.find<QCheckBox>(box)->click();
        // Each completed batch starts the next poll: the link stays busy.
        const int before = r.sentCount();
        r.sim.runTicks(200);
        QVERIFY(r.sim.link.busy());
        QVERIFY(r.sentCount() - before > 10);
        if (leaveTab)
            r.tabs.SelectTab(TabCalibration);
        else
            r.find<QCheckBox>(box)->click();
        r.sim.runBatch();
        const int stopped = r.sentCount();
        r.sim.runTicks(200);
        QCOMPARE(r.sentCount(), stopped);
        QCOMPARE(r.sim.link.busy(), false);
        if (!leaveTab)
            QCOMPARE(r.sentSince(stopped), QStringList());
    }

    // A save or a load while "Poll" is ticked: the polls pause for the
    // transfer (the save does not wait for ever, the load's writes are all
    // confirmed) and resume after it.
    void pollsPauseForATransfer_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("A2D poll") << "CheckPollA2D";
        QTest::newRow("sensor poll") << "CheckPollTemps";
    }
    void pollsPauseForATransfer() {
        QFETCH(QString, box);
        ViewRig r;
        r.tabs.SelectTab(TabDiagnostics);
        r.sim.runBatch();
        r.find<QCheckBox>(box)->click();
        r.sim.runTicks(100);
        QVERIFY(r.sim.link.busy());
        const QString pollFrame = box == "CheckPollA2D" ? ":A00#" : ":I04#";

        // File > Save: the save window ticks every 200 ms.
        const QString path = r.dir.filePath("unit.cfg");
        r.prompts.files << path;
        {
            SaveConfig save(r.sim.link, r.prompts, false);
            int n = 0;
            r.sim.alsoTick = [&] {
                if (++n % 10 == 0)
                    save.tick();
            };
            QVERIFY(r.sim.runUntil([&] { return save.finished(); }, 40000));
            r.sim.alsoTick = nullptr;
            QVERIFY2(save.saved(), qPrintable(save.failure()));
        }
        int from = r.sentCount();
        r.sim.runTicks(100);
        QVERIFY(r.sentSince(from).contains(pollFrame));

        // File > Load of the file just saved.
        {
            ConfigLoad load(r.sim.link);
            QVERIFY(load.start(path).ok());
            QVERIFY(r.sim.runUntil([&] { return load.finished(); }, 40000));
            r.sim.runTicks(10); // the window looks every 200 ms
            const LoadReport rep = load.report();
            QVERIFY2(!rep.interrupted && rep.unconfirmed.isEmpty() && rep.settingsStored,
                     qPrintable(rep.text()));
            QCOMPARE(rep.confirmed, rep.writes);
        }
        from = r.sentCount();
        r.sim.runTicks(100);
        QVERIFY(r.sentSince(from).contains(pollFrame));
    }

    void bothPollsShowLiveValues() {
        ViewRig r;
        r.tabs.SelectTab(TabDiagnostics);
        r.sim.runBatch();
        r.find<QComboBox>("Combo1")->setCurrentIndex(2);
        r.find<QCheckBox>("CheckPollA2D")->click();
        r.find<QCheckBox>("CheckPollTemps")->click();
        r.sim.runTicks(100);
        const int count = r.find<QLineEdit>("Text1_13")->text().toInt();
        QVERIFY2(count > 1900 && count < 2200, qPrintable(QString::number(count))); // pot mid
        QVERIFY(r.find<QLineEdit>("Text1_12")->text().endsWith(" V"));
        QVERIFY(!r.find<QLineEdit>("Text1_22")->text().isEmpty());
        QVERIFY(r.sentSince(0).contains(":A02#"));
        r.snapshot(r.diag, "diagnostics_polling.png");
    }

    // The unit stops answering mid-poll: the polled values grey at once
    // (they are no longer live) and the polls go on by themselves, so that
    // the values are live again as soon as it answers.
    void pollsResumeByThemselvesAfterASilence() {
        ViewRig r;
        r.tabs.SelectTab(TabDiagnostics);
        r.sim.runBatch();
        r.find<QCheckBox>("CheckPollA2D")->click();
        r.find<QCheckBox>("CheckPollTemps")->click();
        r.sim.runTicks(100);
        auto* count = r.find<QLineEdit>("Text1_13");
        auto* sensor = r.find<QLineEdit>("Text1_22");
        QVERIFY(count->isEnabled());
        r.sim.port->setSilent(true);
        r.sim.runTicks(100);
        QVERIFY(!count->isEnabled());
        QVERIFY(!sensor->isEnabled());
        QVERIFY(count->toolTip().startsWith("Not current"));
        r.sim.port->setSilent(false);
        // The retry waits a second of real time; the wire runs meanwhile.
        // Seconds of margin, not milliseconds: a busy machine is slow.
        for (int i = 0; i < 1500 && !count->isEnabled(); ++i) {
            QTest::qWait(10);
            r.sim.step();
        }
        QVERIFY(count->isEnabled());
        QVERIFY(sensor->isEnabled());
        QVERIFY(count->toolTip().isEmpty());
    }

    void debugButtonsSendTheirFrames() {
        ViewRig r;
        r.sim.runTicks(5);
        r.find<QCheckBox>("CheckIOE_0")->setChecked(true);
        int from = r.sentCount();
        r.find<QPushButton>("Command8")->click();
        r.sim.runTicks(5);
        QCOMPARE(r.sentSince(from), QStringList{":D0301000000#"});
        r.find<QLineEdit>("TextSpi")->setText("abc");
        from = r.sentCount();
        r.find<QPushButton>("Command2")->click();
        r.sim.runTicks(5);
        QCOMPARE(r.sentSince(from), QStringList());
        r.find<QPushButton>("Command1")->click();
        r.sim.runBatch();
        QCOMPARE(r.find<QListWidget>("ListDebug")->count(), 11);
        QVERIFY(r.find<QListWidget>("ListDebug")->item(1)->text() != "[1]=00000000");

        // Squeezed into a small window, every value still shows whole.
        auto* list = r.find<QListWidget>("ListDebug");
        r.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.window));
        r.diag->resize(r.diag->minimumSizeHint());
        int widest = 0;
        for (int i = 0; i < list->count(); ++i)
            widest = qMax(widest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
        // The layout settles in posted events: seconds on a busy machine.
        QTRY_VERIFY2_WITH_TIMEOUT(
            list->viewport()->width() >= widest,
            qPrintable(QString("%1 < %2").arg(list->viewport()->width()).arg(widest)), 5000);
    }

    void calibrationViewShowsAndWrites() {
        ViewRig r;
        r.sim.unit().setReg(0x01, r.sim.unit().reg(0x01) & ~0x3C000);
        r.tabs.SelectTab(TabCalibration);
        QCOMPARE(r.sim.runBatch(), -1);
        auto* list = r.find<QListWidget>("Listcal");
        QCOMPARE(list->count(), 8);
        QCOMPARE(list->item(0)->data(Qt::UserRole).toString(), QString("AO1_interceptY\t0"));
        QVERIFY(!r.find<QPushButton>("CommandCalibrate_0")->isEnabled());
        QCOMPARE(r.find<QComboBox>("Combofilter_2")->currentText(), QString("30s"));
        r.snapshot(r.calib, "calibration_view.png");

        r.find<QLineEdit>("TextSensorTrim_1")->setText("abc");
        r.find<QLineEdit>("TextSensorTrim_0")->setText("0.5");
        r.find<QComboBox>("Combofilter_6")->setCurrentIndex(-1);
        const int32_t humidityTrim = r.sim.unit().reg(0x1B);
        const int from = r.sentCount();
        r.find<QPushButton>("CommandSetTrim")->click();
        r.sim.runBatch();
        const QStringList sent = r.sentSince(from);
        QCOMPARE(sent.size(), 9);
        QCOMPARE(sent.at(0), QString(":W1A0000003F#"));
        QCOMPARE(sent.at(8), QString(":SR#"));
        QCOMPARE(r.sim.unit().nonvolatileReg(0x1B), humidityTrim);
        QCOMPARE((r.sim.unit().nonvolatileReg(0x20) >> 16) & 0xFF, 0);
    }

    // "Calibrate AOs" is offered only after a completed calibration read
    // has shown outputs fitted: not before, not while a read runs, not
    // after a read whose last reply was lost.
    void calibrateButtonWaitsForACompletedRead() {
        ViewRig r;
        auto* calibrate = r.find<QPushButton>("CommandCalibrate_0");
        QVERIFY(!calibrate->isEnabled());
        r.tabs.SelectTab(TabCalibration);
        r.sim.runTicks(3);
        QVERIFY(r.sim.link.busy());
        QVERIFY(!calibrate->isEnabled());
        QCOMPARE(r.sim.runBatch(), -1);
        QVERIFY(calibrate->isEnabled());

        r.tabs.SelectTab(TabCalibration);
        QVERIFY(!calibrate->isEnabled());
        r.sim.port->dropReplyToFrame(calibrationFrames().size());
        QCOMPARE(r.sim.runBatch(), -2);
        QVERIFY(!calibrate->isEnabled());
    }

    // "Calibrate AOs" moves the outputs and replaces their trims: it asks
    // first, and only Yes sends the command.
    void calibrateOutputsAsksFirst_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no (the default)") << false;
        QTest::newRow("yes") << true;
    }

    void calibrateOutputsAsksFirst() {
        QFETCH(bool, yes);
        ViewRig r;
        r.tabs.SelectTab(TabCalibration);
        QCOMPARE(r.sim.runBatch(), -1);
        const int from = r.sentCount();
        r.prompts.answers << yes;
        r.find<QPushButton>("CommandCalibrate_0")->click();
        r.sim.runTicks(10);
        QCOMPARE(r.prompts.asked.size(), 1);
        QVERIFY(r.prompts.asked.first().contains("analogue outputs"));
        QCOMPARE(r.sentSince(from).contains(":SC#"), yes);
        // The coefficients still shown are the old ones, and say so.
        auto* list = r.find<QListWidget>("Listcal");
        QCOMPARE(list->item(0)->text().startsWith("Before the calibration"), yes);
    }

    // "Set " with the boxes as shown writes back the trims bit for bit.
    void untouchedSetWritesTheTrimsAsRead() {
        ViewRig r;
        r.sim.unit().setReg(0x1D, int32_t(0x40490FDB)); // pi: "3.141593" in seven digits
        r.sim.unit().setReg(0x1E, int32_t(0x4B3C614F)); // 12345679: "1.234568E+07"
        r.tabs.SelectTab(TabCalibration);
        QCOMPARE(r.sim.runBatch(), -1);
        const int from = r.sentCount();
        r.find<QPushButton>("CommandSetTrim")->click();
        r.sim.runBatch();
        const QStringList sent = r.sentSince(from);
        QVERIFY(sent.size() >= 5);
        QCOMPARE(sent.at(3), QString(":W1DDB0F4940#"));
        QCOMPARE(sent.at(4), QString(":W1E4F613C4B#"));
        QCOMPARE(r.sim.unit().nonvolatileReg(0x1D), int32_t(0x40490FDB));
    }

    // A box that never showed a read value holds a placeholder ("0.0",
    // "None"); "Set " writes what was read or entered, never that.
    void calibrationSetWritesNoPlaceholder_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("firstFrame");
        QTest::newRow("the read lost its last reply") << "lost-last"
                                                      << ":W1A";
        QTest::newRow("nothing read: reads first") << "nothing"
                                                   << ":R1A#";
    }
    void calibrationSetWritesNoPlaceholder() {
        QFETCH(QString, before);
        QFETCH(QString, firstFrame);
        ViewRig r;
        for (int reg = 0x1A; reg <= 0x1E; ++reg)
            r.sim.unit().setReg(reg, std::bit_cast<int32_t>(0.25f * reg));
        r.sim.unit().setReg(0x1F, 0x3C1E140A);
        r.sim.unit().setReg(0x20, 0x5A781E0A);
        if (before == "lost-last") {
            r.sim.port->dropReplyToFrame(18); // ":D0A#", the last of the read
            r.tabs.SelectTab(TabCalibration);
            QCOMPARE(r.sim.runBatch(), -2);
            QCOMPARE(r.find<QLineEdit>("TextSensorTrim_0")->text(), QString("0.0"));
        }
        // The engineer types one trim; everything else stays as it is.
        r.find<QLineEdit>("TextSensorTrim_2")->setText("1.5");
        emit r.find<QLineEdit>("TextSensorTrim_2")->textEdited("1.5");
        const int from = r.sentCount();
        r.find<QPushButton>("CommandSetTrim")->click();
        r.sim.runBatch();
        const QStringList sent = r.sentSince(from);
        QVERIFY2(sent.first().startsWith(firstFrame), qPrintable(sent.join(' ')));
        QCOMPARE(sent.last(), QString(":SR#"));
        for (int reg = 0x1A; reg <= 0x1E; ++reg) {
            const float want = reg == 0x1C ? 1.5f : 0.25f * reg;
            QCOMPARE(r.sim.unit().nonvolatileReg(reg), std::bit_cast<int32_t>(want));
        }
        QCOMPARE(r.sim.unit().nonvolatileReg(0x1F), 0x3C1E140A);
        QCOMPARE(r.sim.unit().nonvolatileReg(0x20), 0x5A781E0A);
    }
};

QTEST_MAIN(TestDiagnosticsView)
#include "test_diagnostics_view.moc"
