// The main window: start-up, operating modes, menus, captions, the about box,
// the identity lines, and a start against the simulated unit.
#include "config/profile_change_window.h"
#include "config/save_config_window.h"
#include "diag/identity_view.h"
#include "flash/firmware_update_window.h"
#include "flash/flash_tools_view.h"
#include "flash/low_level_flash_window.h"
#include "gui/about_box.h"
#include "gui/main_window.h"
#include "gui/report_window.h"
#include "gui/traffic_log_view.h"
#include "platform/qt_prompts.h"
#include "sim/pty_server.h"
#include "sim/sim_unit.h"
#include "support/fake_port.h"
#include "support/scripted_prompts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using namespace gp;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Rig {
    QTemporaryDir dir;
    Form1Options options;
    Rig() {
        options.settingsPath = dir.filePath(QStringLiteral("glimmerpane.ini"));
        options.langFolders = {dir.path()};
        options.startFolder = dir.path();
        options.fixedPorts = {QStringLiteral("ttyUSB0"), QStringLiteral("ttyS0")};
        options.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
        options.portFactory = [] { return std::make_unique<test::FakePort>(); };
        options.promptsFactory = [this] {
            auto p = std::make_unique<test::ScriptedPrompts>();
            prompts = p.get();
            return p;
        };
    }
    test::ScriptedPrompts* prompts = nullptr; // the window's, while it lives
    void settings(const QByteArray& lines) {
        writeFile(options.settingsPath, "[default]\r\n" + lines);
    }
    // The real serial port code, on the simulated unit's pseudo-terminal
    // only.
    void onPseudoTerminal(const QString& path) {
        options.portFactory = nullptr;
        options.fixedPorts.clear();
        options.listSystemPorts = false;
        options.simulatedPort = path;
    }
};

// The traffic log as the window shows it, every line logged so far in it.
QString logText(Form1& form) {
    return form.findChild<TrafficLogView*>()->editor()->toPlainText();
}

// Waits for the identity read to give the window the application id; on
// failure the traffic log tells what the line did.
void waitForIdentity(Form1& form, int appId) {
    QTRY_VERIFY2_WITH_TIMEOUT(form.context().appid == appId, qPrintable(logText(form).right(3000)),
                              15000);
}

QStringList heads(Form1& f) {
    auto* bar = f.findChild<QTabBar*>(QStringLiteral("NavTab1"));
    QStringList out;
    for (int i = 0; i < bar->count(); ++i)
        out << bar->tabText(i);
    return out;
}

// A unit behind the fake port: answers every frame written but the ones
// listed, until done() or about ten seconds have passed.
void serveUnit(Form1& form, sim::SimUnit& unit, const QStringList& unanswered,
               const std::function<bool()>& done) {
    auto* port = static_cast<test::FakePort*>(form.link().serial.port());
    qsizetype seen = 0;
    double now = 0;
    for (int i = 0; i < 1000 && !done(); ++i) {
        while (seen < port->written.size()) {
            const QByteArray frame = port->written.at(seen++);
            now += 50;
            if (!unanswered.contains(QString::fromLatin1(frame)))
                port->feed(unit.receive(frame, now));
        }
        QTest::qWait(10);
    }
}

// Every text a widget shows, with where it was found.
QStringList shownTexts(const QWidget* root) {
    QStringList out;
    QList<const QWidget*> widgets{root};
    for (const QWidget* w : root->findChildren<QWidget*>())
        widgets << w;
    for (const QWidget* w : widgets) {
        const QString where = w->objectName() + QStringLiteral(": ");
        if (w->isWindow())
            out << where + w->windowTitle();
        if (auto* l = qobject_cast<const QLabel*>(w))
            out << where + l->text();
        if (auto* b = qobject_cast<const QAbstractButton*>(w))
            out << where + b->text();
        if (auto* g = qobject_cast<const QGroupBox*>(w))
            out << where + g->title();
        if (auto* e = qobject_cast<const QLineEdit*>(w))
            out << where + e->text();
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                out << where + c->itemText(i);
        if (auto* t = qobject_cast<const QTabBar*>(w))
            for (int i = 0; i < t->count(); ++i)
                out << where + t->tabText(i);
        if (auto* m = qobject_cast<const QMenu*>(w)) {
            out << where + m->title();
            for (const QAction* a : m->actions())
                out << a->objectName() + QStringLiteral(": ") + a->text();
        }
    }
    return out;
}

// A catalogue for every id the tool has a text for: "<id>" marks each text.
QByteArray markedCatalogue(const QString& mark) {
    QByteArray out;
    for (const auto& [id, text] : LangDll::builtInStrings())
        out += QByteArray::number(id) + '\t' + mark.toUtf8() + QByteArray::number(id) + "\r\n";
    return out;
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
  private slots:
    void startUpWithoutSettingsFileWritesPortAndLanguage() {
        Rig rig;
        Form1 form(rig.options);
        QCOMPARE(readFile(rig.options.settingsPath),
                 QByteArray("[default]\r\nPORT=ttyUSB0\r\nLANG_DLL=\r\n"));
        QCOMPARE(form.LanguageDll(), QStringLiteral("Glimmerpane_en"));
        QCOMPARE(form.context().appid, -1);
        QCOMPARE(form.tabs().ActiveTab(), 3);
        // Built-in texts when no catalogue is there.
        QCOMPARE(form.findChild<QLabel*>("Label2")->text(), QStringLiteral("Com Port:"));
        QCOMPARE(form.fileMenu()->title().remove(u'&'), QStringLiteral("File"));
        QCOMPARE(heads(form), QStringList{"Device"});
        QVERIFY(form.findChild<QGroupBox*>("FrameComms")->isHidden());
    }

    void storedPortNotOfferedSelectsAndStoresTheFirst() {
        Rig rig;
        rig.settings("PORT=ttyACM7\r\nLANG_DLL=\r\n");
        Form1 form(rig.options);
        QCOMPARE(form.findChild<QComboBox*>("Combo2")->currentText(), QStringLiteral("ttyUSB0"));
        QVERIFY(readFile(rig.options.settingsPath).contains("PORT=ttyUSB0\r\n"));
        QCOMPARE(form.link().serial.port()->name(), QStringLiteral("ttyUSB0"));
    }

    void modes_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QStringList>("heads");
        QTest::addColumn<bool>("logBox");
        QTest::addColumn<bool>("tools");
        QTest::addColumn<int>("width");
        QTest::newRow("normal") << QByteArray() << QStringList{"Device"} << false << false << 789;
        QTest::newRow("calibration")
            << QByteArray("CALIBRATION=qmtrvexalond\r\n") << QStringList{"Device", "Calibration"}
            << false << true << 789;
        QTest::newRow("calibration word in capitals is no word")
            << QByteArray("CALIBRATION=QMTRVEXALOND\r\n") << QStringList{"Device"} << false << false
            << 789;
        QTest::newRow("advanced") << QByteArray("ADVANCED=plodnivster\r\n")
                                  << QStringList{"Device", "Calibration", "Diagnostics"} << true
                                  << true << 941;
        QTest::newRow("advanced word with a capital is no word")
            << QByteArray("ADVANCED=Plodnivster\r\n") << QStringList{"Device"} << false << false
            << 789;
        QTest::newRow("both modes")
            << QByteArray("CALIBRATION=qmtrvexalond\r\nADVANCED=plodnivster\r\n")
            << QStringList{"Device", "Calibration", "Diagnostics"} << true << true << 941;
    }

    void modes() {
        QFETCH(QByteArray, lines);
        QFETCH(bool, tools);
        QFETCH(int, width);
        Rig rig;
        rig.settings("PORT=ttyS0\r\n" + lines);
        Form1 form(rig.options);
        QTEST(heads(form), "heads");
        QTEST(!form.findChild<QCheckBox*>("CheckLog")->isHidden(), "logBox");
        QCOMPARE(form.toolsMenu()->menuAction()->isVisible(), tools);
        QCOMPARE(form.findChild<QAction*>("fwupdate")->isVisible(), tools);
        QCOMPARE(form.findChild<QAction*>("changeProfile")->isVisible(), tools);
        QCOMPARE(form.designWidth(), width);
        // As wide as designed, unless the screen is narrower.
        const QRect avail = form.screen()->availableGeometry();
        QVERIFY(form.width() >= qMin(width, avail.width()));
        QVERIFY(form.width() <= avail.width() && form.height() <= avail.height());
        form.show();
        QVERIFY(avail.contains(form.frameGeometry()));
    }

    void filesInTheStartFolderOfferTools_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("tools");
        QTest::addColumn<bool>("fwupdate");
        QTest::addColumn<bool>("profile");
        QTest::newRow("none") << QStringList{"notes.txt"} << false << false << false;
        QTest::newRow("firmware image") << QStringList{"qru420.bin"} << true << true << false;
        QTest::newRow("profile") << QStringList{"hotel.pro"} << true << false << true;
        QTest::newRow("both") << QStringList{"a.pro", "b.bin"} << true << true << true;
    }

    void filesInTheStartFolderOfferTools() {
        QFETCH(QStringList, files);
        Rig rig;
        for (const QString& f : files)
            writeFile(rig.dir.filePath(f), "x");
        Form1 form(rig.options);
        QTEST(form.toolsMenu()->menuAction()->isVisible(), "tools");
        QTEST(form.findChild<QAction*>("fwupdate")->isVisible(), "fwupdate");
        QTEST(form.findChild<QAction*>("changeProfile")->isVisible(), "profile");
    }

    void catalogueDefiningOnly101FallsBackPerId() {
        Rig rig;
        writeFile(rig.dir.filePath("Glimmerpane_xx.lng"), "101\tRaumgeraet Werkzeug\r\n");
        rig.settings("PORT=ttyS0\r\nLANG_DLL=Glimmerpane_xx\r\n");
        Form1 form(rig.options);
        QCOMPARE(form.windowTitle(), QStringLiteral("Raumgeraet Werkzeug"));
        QCOMPARE(form.fileMenu()->title().remove(u'&'), QStringLiteral("File"));
        QCOMPARE(form.findChild<QPushButton*>("Command4_1")->text(), QStringLiteral("Connect"));
        QCOMPARE(form.findChild<QPushButton*>("Command4_0")->text(), QStringLiteral("Write"));
        QCOMPARE(heads(form), QStringList{"Device"});
    }

    // Every caption that has a language text takes it from the catalogue,
    // on the views built before it was loaded too, and again on a reload.
    void everyViewTakesTheCatalogue_data() {
        QTest::addColumn<QString>("mark");
        QTest::newRow("catalogue at start-up") << "XX";
        QTest::newRow("catalogue loaded again") << "YY";
    }

    void everyViewTakesTheCatalogue() {
        QFETCH(QString, mark);
        Rig rig;
        writeFile(rig.dir.filePath("Glimmerpane_xx.lng"), markedCatalogue("XX"));
        writeFile(rig.dir.filePath("Glimmerpane_yy.lng"), markedCatalogue("YY"));
        rig.settings("PORT=ttyS0\r\nLANG_DLL=Glimmerpane_xx\r\nADVANCED=plodnivster\r\n"
                     "CALIBRATION=qmtrvexalond\r\n");
        Form1 form(rig.options);
        if (mark == "YY")
            form.loadLanguage("Glimmerpane_yy");
        sim::SimProfile profile;
        profile.featureFlags = (1u << 1) | (1u << 3);
        sim::SimUnit unit(profile);
        static_cast<test::FakePort*>(form.link().serial.port())->written.clear();
        form.findChild<QPushButton*>("Command4_1")->click();
        serveUnit(form, unit, {}, [&] { return form.context().appid == 1; });
        QCOMPARE(form.context().appid, 1);
        form.findChild<QGroupBox*>("FrameComms")->show();

        // Every window: the main window with all its views and menus, the
        // tool windows, and a message box as the engineer sees them.
        QStringList texts = shownTexts(&form);
        for (QMenu* menu : form.findChildren<QMenu*>())
            texts += shownTexts(menu);
        auto shown = [&texts](QDialog&& w) {
            w.show();
            texts += shownTexts(&w);
        };
        shown(Form2(form.context(), false, &form));
        shown(Form3(form.context(), &form));
        shown(Form4(form.context(), &form));
        shown(Form5(form.context(), false, &form));
        shown(ReportWindow(form.context(), nullptr, nullptr, &form));
        // A question composed as the tool runs (naming the port) and a
        // message naming a file and a reason, as the engineer sees them.
        form.findChild<QPushButton*>("CommandDefauts")->click();
        QCOMPARE(rig.prompts->asked.size(), 1);
        QtPrompts prompts(&form);
        auto seeBox = [&texts] {
            QTimer::singleShot(0, [&texts] {
                QWidget* box = QApplication::activeModalWidget();
                QVERIFY(box);
                texts += shownTexts(box);
                box->close();
            });
        };
        seeBox();
        prompts.askYesNo(QStringLiteral("Factory settings"),
                         rig.prompts->asked.first().section(": ", 1), false, true);
        seeBox();
        prompts.message(QStringLiteral("Restore from backup..."),
                        QStringLiteral("Cannot write /tmp/a.cfg: the port went away (adapter "
                                       "unplugged?)"),
                        MessageKind::Warning);

        // The English texts the catalogue replaces, and the captions built on
        // them; and any other English word of a caption, but for the names
        // the unit and its engineers use as they are.
        QSet<QString> english{"Unique ID:"};
        for (const auto& [id, text] : LangDll::builtInStrings())
            english << text << text + ':';
        const QRegularExpression word(QStringLiteral("[a-z]{3,}"));
        const QRegularExpression name(
            QStringLiteral("^(Chipcap[HT]|Debug[1-7]|ReadAllCnf|WriteAllCnf|SaveAllNonvol|LogComs|"
                           "Command13|SpeedUp|Samba|SAMBA|Triac|tty.*|Quorvel .*|\\d: .*|.*\\.lng|"
                           "Ti\\d.*|SPI Rate|AppId|VendorId|Res\\d/.*)$"));
        const QString otherMark = mark == "XX" ? "YY" : "XX";
        QStringList left;
        for (const QString& t : texts) {
            const QString caption = t.section(QStringLiteral(": "), 1, -1).remove(u'&');
            const bool isValue =
                t.startsWith(QStringLiteral("Text")) || t.startsWith(QStringLiteral("Combo"));
            if (english.contains(caption) || caption.startsWith(otherMark) ||
                (!isValue && caption.contains(word) && !caption.startsWith(mark) &&
                 !name.match(caption).hasMatch()))
                left << t;
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(" | ")));
        // And the catalogue in use is the one that shows.
        QCOMPARE(form.findChild<QLabel*>("LabelAddress")->text(), mark + "5024:");
        QCOMPARE(form.findChild<QComboBox*>("ComboParity")->itemText(0), mark + "5021");
        QCOMPARE(form.findChild<QPushButton*>("CmdServicePin1_1")->text(), mark + "5026");
        QCOMPARE(form.findChild<QLineEdit*>("TextDeviceId_1")->text(), mark + "5028");
        QVERIFY(form.findChild<QLabel*>("Label10_0")->text().startsWith(mark + "2501 "));
        QCOMPARE(form.findChild<QCheckBox*>("CheckTrendPause")->text(), mark + "12108");
        // A caption that ends in "..." gets none added; a menu entry's
        // mnemonic stays on the catalogue's text.
        const QString exportId = QString::number(*LangDll::builtInIdOf("Export CSV..."));
        for (auto* b : form.findChildren<QPushButton*>("CommandTrendExport"))
            QCOMPARE(b->text(), mark + exportId);
        QVERIFY(form.findChild<QAction*>("restoreBackup")->text().contains('&'));
    }

    void latin1CatalogueIsSaidOnceInTheLog() {
        Rig rig;
        writeFile(rig.dir.filePath("Glimmerpane_xx.lng"), "101\tRaumger\xE4t\r\n");
        rig.settings("PORT=ttyS0\r\nLANG_DLL=Glimmerpane_xx\r\n");
        Form1 form(rig.options);
        QCOMPARE(form.windowTitle(), QString::fromUtf8("Raumger\xC3\xA4t"));
        const QString log = logText(form);
        QCOMPARE(log.count("Latin-1"), 1);
    }

    // The unit leaves the read appended behind the identity unanswered:
    // the Device view is filled all the same, only that field stays empty.
    void unansweredAppendedReadLeavesOnlyItsField_data() {
        QTest::addColumn<QStringList>("unanswered");
        QTest::addColumn<QString>("deviceId");
        QTest::newRow("all answered") << QStringList{} << "0 = Auto";
        QTest::newRow("register 24 unanswered") << QStringList{":R24#"} << "";
    }

    void unansweredAppendedReadLeavesOnlyItsField() {
        QFETCH(QStringList, unanswered);
        Rig rig;
        Form1 form(rig.options);
        sim::SimProfile profile;
        profile.featureFlags = (1u << 2);
        profile.vendorId = 1077;
        sim::SimUnit unit(profile);
        // The unit answers the start-up's identity read from its first frame.
        serveUnit(form, unit, unanswered, [&] { return form.context().appid == 1; });
        QCOMPARE(form.context().appid, 1);
        QVERIFY(form.findChild<QLabel*>("Label10_1")->text().startsWith("Firmware Version: 2"));
        QVERIFY(!form.findChild<QGroupBox*>("FrameComms")->isHidden());
        QCOMPARE(form.findChild<QLineEdit*>("TextAddress")->text(), QString("1"));
        QTEST(form.findChild<QLineEdit*>("TextDeviceId_1")->text(), "deviceId");
    }

    void mainButtonsSendTheirFrames() {
        Rig rig;
        Form1 form(rig.options);
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        port->written.clear();
        // Factory settings ask first, naming the port; No is the default.
        form.findChild<QPushButton*>("CommandDefauts")->click();
        QCOMPARE(rig.prompts->asked.size(), 1);
        QVERIFY(rig.prompts->asked.first().contains("on ttyUSB0 back to its factory settings"));
        QVERIFY(port->writtenFrames().isEmpty());
        rig.prompts->answers << true;
        form.findChild<QPushButton*>("CommandDefauts")->click();
        form.findChild<QPushButton*>("CommandReset")->click();
        QCOMPARE(port->writtenFrames(), (QStringList{":SD#", ":SR#"}));
        // "Connect" while the start-up's identity read still runs is that
        // read; once it has ended, it reads again.
        form.findChild<QPushButton*>("Command4_1")->click();
        QCOMPARE(port->writtenFrames().last(), QStringLiteral(":SR#"));
        QTRY_VERIFY_WITH_TIMEOUT(!form.link().busy(), 10000);
        port->written.clear();
        form.findChild<QPushButton*>("Command4_1")->click();
        QCOMPARE(port->writtenFrames(), QStringList{":R00#"});
        // "Write" with layout code 7: the device settings batch is ":SU#" alone.
        DeviceState& st = form.link().state;
        for (int r : {0x00, 0x01, 0x04, 0x21, 0x24})
            st.setRegister(r, r == 0 ? 0x07000000 : 0, ValueSource::Unit);
        form.findChild<QPushButton*>("Command4_0")->click();
        QCOMPARE(port->writtenFrames().last(), QStringLiteral(":SU#"));
        // Done with, the write says what the unit did not confirm (this
        // port answers nothing).
        QTRY_VERIFY_WITH_TIMEOUT(
            form.findChild<QLabel*>("StatusPort")->text().contains("did not confirm: :SU#"), 10000);
    }

    // After "Update Complete" the identity is read again, so the Device view
    // shows the new firmware version; the File menu offers the restore.
    void firmwareUpdateReadsTheIdentityAgainAndFileMenuOffersRestore() {
        Rig rig;
        Form1 form(rig.options);
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        // The start-up's read is over (the unit went into its boot loader).
        form.link().poll.abandon();
        form.link().serial.forgetExchange();
        port->written.clear();
        emit form.findChild<FlashToolsView*>("FlashTools")->firmwareUpdated();
        QCOMPARE(port->writtenFrames().value(0), QStringLiteral(":R00#"));
        QVERIFY(form.link().busy());
        auto* restore = form.findChild<QAction*>("restoreBackup");
        QVERIFY(restore);
        QVERIFY(form.findChild<QMenu*>("file")->actions().contains(restore));
    }

    // The main buttons stand above the CO2 view too: with the line through
    // to the sensor, the pass-through ends before the unit frame goes out.
    void mainButtonsOnTheCo2ViewLeaveThePassThroughFirst_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("frame");
        QTest::newRow("Connect") << "Command4_1"
                                 << ":R00#";
        QTest::newRow("Defaults") << "CommandDefauts"
                                  << ":SD#";
        QTest::newRow("Reset") << "CommandReset"
                               << ":SR#";
    }
    void mainButtonsOnTheCo2ViewLeaveThePassThroughFirst() {
        QFETCH(QString, button);
        QFETCH(QString, frame);
        Rig rig;
        Form1 form(rig.options);
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        form.context().tabs.setHeadVisible(TabCO2, true);
        form.context().tabs.SelectTab(TabCO2);
        QVERIFY(form.link().serial.Co2PassThrough);
        port->written.clear();
        rig.prompts->answers << true; // "Defaults" asks first
        form.findChild<QPushButton*>(button)->click();
        const QStringList sent = port->writtenFrames();
        QVERIFY2(sent.size() >= 3, qPrintable(sent.join('|')));
        QCOMPARE(sent.mid(0, 3), (QStringList{"K 1\r\n", "!", frame}));
        QVERIFY(!form.link().serial.Co2PassThrough);
    }

    // Closing the window on the CO2 view: "K 1" and "!" leave the port's
    // buffer before the port closes, so the unit takes the line back.
    void closingOnTheCo2ViewEndsThePassThrough_data() {
        QTest::addColumn<bool>("onCo2View");
        QTest::newRow("CO2 view on screen") << true;
        QTest::newRow("Device view on screen") << false;
    }
    void closingOnTheCo2ViewEndsThePassThrough() {
        QFETCH(bool, onCo2View);
        Rig rig;
        Form1 form(rig.options);
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        if (onCo2View) {
            form.context().tabs.setHeadVisible(TabCO2, true);
            form.context().tabs.SelectTab(TabCO2);
        }
        port->written.clear();
        port->holdWrites = true;
        form.close();
        QVERIFY(!port->isOpen());
        // Off the CO2 view nothing goes to the unit: the sensor's lines would
        // reach the unit itself.
        const QStringList expected = onCo2View ? QStringList{"K 1\r\n", "!"} : QStringList{};
        QCOMPARE(port->writtenFrames(), expected);
    }

    // The log's tools are there in every mode, and the stamp choice is kept.
    void logToolsInEveryModeAndStampsRemembered_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("normal") << QByteArray();
        QTest::newRow("advanced") << QByteArray("ADVANCED=plodnivster\r\n");
    }

    void logToolsInEveryModeAndStampsRemembered() {
        QFETCH(QByteArray, lines);
        Rig rig;
        rig.settings("PORT=ttyS0\r\n" + lines);
        {
            Form1 form(rig.options);
            form.show();
            QVERIFY(form.findChild<QToolBar*>("LogToolBar")->isVisible());
            for (const char* name : {"logSaveAs", "logCopy", "logClear", "logStampsClock"})
                QVERIFY2(form.findChild<QAction*>(name), name);
            form.findChild<QAction*>("logStampsSinceOpen")->trigger();
        }
        QVERIFY(readFile(rig.options.settingsPath).contains("LOG_TIMESTAMPS=ms\r\n"));
        Form1 again(rig.options);
        QVERIFY(again.findChild<QAction*>("logStampsSinceOpen")->isChecked());
        // Since the port opened: every line starts with its milliseconds.
        const QString log = logText(again);
        QVERIFY2(QRegularExpression("^ *\\d+ \\[Tx\\] :R00#$", QRegularExpression::MultilineOption)
                     .match(log)
                     .hasMatch(),
                 qPrintable(log));
    }

    // "Log to file" writes what the box promises, and a box whose file
    // dialog was cancelled is not left ticked.
    void logToFileWritesTheTrafficOrUnticks() {
        Rig rig;
        rig.settings("PORT=ttyS0\r\nADVANCED=plodnivster\r\n");
        Form1 form(rig.options);
        form.show();
        auto* box = form.findChild<QCheckBox*>("CheckLog");
        QVERIFY(box->isVisible());
        QTest::mouseClick(box, Qt::LeftButton); // no file chosen
        QVERIFY(!box->isChecked());
        const QString path = rig.dir.filePath("traffic.txt");
        rig.prompts->files << path;
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        form.findChild<QPushButton*>("CommandReset")->click();
        QTRY_VERIFY_WITH_TIMEOUT(readFile(path).contains(":SR#"), 10000);
        QVERIFY(form.findChild<QLabel*>("StatusPort")->text().startsWith("Reset sent"));
        // "Saved" is said in the port's field, which wraps, not over the
        // counters.
        rig.prompts->files << rig.dir.filePath("saved-log.txt");
        form.findChild<QAction*>("logSaveAs")->trigger();
        QVERIFY(form.statusBar()->currentMessage().isEmpty());
        QVERIFY2(form.findChild<QLabel*>("StatusPort")->text().contains("saved-log.txt"),
                 qPrintable(form.findChild<QLabel*>("StatusPort")->text()));
    }

    // The counters name what they count, and a long port state is not cut
    // off by them: it wraps in its own field.
    void statusBarCountersSayFrames() {
        LinkCounters c;
        c.framesSent = 12;
        c.repliesDispatched = 10;
        c.repliesLost = 2;
        c.charsDiscarded = 7;
        QCOMPARE(countersText(c),
                 QStringLiteral("frames: 12 sent (10 answered, 2 lost), 0 stale replies"));
        c.framesNotSent = 258;
        QCOMPARE(countersText(c), QStringLiteral("frames: 12 sent (10 answered, 2 lost), 0 stale "
                                                 "replies, 258 not sent (port closed)"));
        QVERIFY(countersToolTip(c).contains("Characters discarded (noise, damaged replies): 7"));

        Rig rig;
        Form1 form(rig.options);
        form.show();
        auto* port = form.findChild<QLabel*>("StatusPort");
        port->setText("Cannot open /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0:"
                      " in use by another program (glimmerpane-cli, pid 4242)");
        QVERIFY(port->wordWrap());
        // The layout settles in posted events, late on a busy machine: give
        // it seconds, not a fixed few milliseconds.
        QTRY_VERIFY_WITH_TIMEOUT(port->width() > 0, 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            port->height() >= port->heightForWidth(port->width()),
            qPrintable(
                QString("%1 < %2").arg(port->height()).arg(port->heightForWidth(port->width()))),
            5000);
        QVERIFY(form.findChild<QLabel*>("StatusCounters")->text().startsWith("frames: "));
    }

    // The CO2 head comes after the identity read, but the window opens tall
    // enough for its rows (when the screen is).
    void windowOpensTallEnoughForTheCo2Rows() {
        Rig rig;
        Form1 form(rig.options);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QWidget* co2 = form.panel(1); // the CO2 panel
        // The stack of panels is as tall as the CO2 panel will be.
        auto* area = form.findChild<QStackedWidget*>("Picture1");
        const QRect avail = form.screen()->availableGeometry();
        if (form.frameGeometry().height() >= avail.height() - 2)
            QSKIP("screen too small to tell");
        QTRY_VERIFY2_WITH_TIMEOUT(
            (area->height() - 2) >= co2->sizeHint().height(),
            qPrintable(QString("%1 < %2").arg((area->height() - 2)).arg(co2->sizeHint().height())),
            5000);
    }

    // The Diagnostics view's tools stand beside it where the window is wide
    // enough, else below it (a large scale): nothing needs a sideways
    // scroll bar either way.
    void diagnosticsToolsGoBelowWhenNarrow_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("beside");
        QTest::newRow("laptop") << 1366 << true;
        QTest::newRow("scale 2 on 2560 pixels") << 1280 << false;
        QTest::newRow("narrow") << 900 << false;
    }
    void diagnosticsToolsGoBelowWhenNarrow() {
        QFETCH(int, width);
        QFETCH(bool, beside);
        Rig rig;
        rig.settings("PORT=ttyS0\r\nADVANCED=plodnivster\r\n");
        Form1 form(rig.options);
        form.show();
        form.resize(width, 700);
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.context().tabs.SelectTab(TabDiagnostics);
        QWidget* panel = form.panel(TabDiagnostics);
        auto* scroll = qobject_cast<QScrollArea*>(panel->parentWidget()->parentWidget());
        QVERIFY(scroll);
        if (scroll->viewport()->width() < width - 100)
            QSKIP("screen too small to tell");
        auto* tools = panel->findChild<QWidget*>("DiagnosticsTools");
        auto* diagnostics = panel->findChild<QWidget*>("DiagnosticsPanel");
        QTRY_COMPARE(tools->x() > diagnostics->x() + 100, beside);
        QTRY_COMPARE(scroll->horizontalScrollBar()->maximum(), 0);
    }

    void fitOnScreen_data() {
        QTest::addColumn<QRect>("want");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("got");
        const QRect laptop(0, 0, 1366, 740);
        QTest::newRow("fits as it is")
            << QRect(10, 20, 800, 600) << laptop << QRect(10, 20, 800, 600);
        QTest::newRow("advanced mode on a small screen")
            << QRect(0, 0, 1515, 988) << laptop << QRect(0, 0, 1366, 740);
        QTest::newRow("left on a screen since unplugged")
            << QRect(2000, 900, 800, 600) << laptop << QRect(566, 140, 800, 600);
        QTest::newRow("above and left of the area")
            << QRect(-50, -30, 800, 600) << QRect(0, 28, 1366, 740) << QRect(0, 28, 800, 600);
    }

    void fitOnScreen() {
        QFETCH(QRect, want);
        QFETCH(QRect, available);
        QTEST(gp::fitOnScreen(want, available), "got");
    }

    // Size, place and the line between view and log come back as left.
    void windowPlaceAndSplitterRemembered() {
        Rig rig;
        QList<int> sizes;
        {
            Form1 form(rig.options);
            form.show();
            form.resize(700, 560);
            auto* split = form.findChild<QSplitter*>("ViewLogSplitter");
            QVERIFY(split);
            split->setSizes({300, 150});
            sizes = split->sizes();
            form.close();
        }
        const QByteArray ini = readFile(rig.options.settingsPath);
        QVERIFY2(ini.contains(",700,560\r\n"), ini.constData());
        QVERIFY(ini.contains(QByteArray("SPLITTER=") + QByteArray::number(sizes[0]) + ','));
        Form1 again(rig.options);
        QCOMPARE(again.size(), QSize(700, 560));
        again.show();
        QCOMPARE(again.findChild<QSplitter*>("ViewLogSplitter")->sizes(), sizes);
    }

    void keyboardShortcuts() {
        Rig rig;
        rig.settings("PORT=ttyS0\r\nADVANCED=plodnivster\r\n");
        Form1 form(rig.options);
        QCOMPARE(form.findChild<QAction*>("load")->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(form.findChild<QAction*>("save")->shortcut(), QKeySequence(QKeySequence::Save));
        QCOMPARE(form.findChild<QAction*>("quit")->shortcut(), QKeySequence("Ctrl+Q"));
        QCOMPARE(form.findChild<QPushButton*>("Command4_1")->shortcut(), QKeySequence("F5"));
        QVERIFY(!form.windowIcon().isNull());
        // Every menu and entry has its own mnemonic in its menu; entries
        // that open a window asking for more end in "...".
        QStringList titles;
        for (QAction* top : form.menuBar()->actions())
            titles << top->text();
        QCOMPARE(titles, (QStringList{"&File", "&Tools", "&Help"}));
        QCOMPARE(form.findChild<QAction*>("load")->text(), QString("&Open..."));
        QCOMPARE(form.findChild<QAction*>("restoreBackup")->text(),
                 QString("&Restore from backup..."));
        QCOMPARE(form.findChild<QAction*>("fwupdate")->text(), QString("&Firmware Update..."));
        for (QMenu* menu : form.menuBar()->findChildren<QMenu*>()) {
            QString keys;
            for (QAction* a : menu->actions()) {
                const qsizetype amp = a->text().indexOf('&');
                if (a->isSeparator())
                    continue;
                QVERIFY2(amp >= 0, qPrintable(a->text()));
                const QChar k = a->text().at(amp + 1).toLower();
                QVERIFY2(!keys.contains(k), qPrintable(menu->title() + ": " + a->text()));
                keys += k;
            }
        }
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(form.tabs().ActiveTab(), 5); // Device, Calibration, Diagnostics
        QTest::keyClick(&form, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(form.tabs().ActiveTab(), 4);
        QTest::keyClick(&form, Qt::Key_5, Qt::ControlModifier); // no fifth head
        QCOMPARE(form.tabs().ActiveTab(), 4);
        QTest::keyClick(&form, Qt::Key_F10);
        QTRY_VERIFY(form.menuBar()->activeAction() == form.menuBar()->actions().value(0));
        QTest::keyClick(form.menuBar(), Qt::Key_Escape);
        QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : static_cast<QWidget*>(&form),
                        Qt::Key_Escape);
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        port->written.clear();
        QTest::keyClick(&form, Qt::Key_F5);
        QTRY_VERIFY(port->writtenFrames().contains(":R00#"));
        form.findChild<QAction*>("quit")->trigger();
        QVERIFY(!form.isVisible());
    }

    // An address the unit cannot take is refused with a message, from the
    // comms frame's Write and from the main Write alike; nothing is sent.
    void addressNotANumberIsRefused_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("refused");
        QTest::newRow("comms Write, hex-looking") << "CommandWriteComms"
                                                  << "17h" << true;
        QTest::newRow("comms Write, beyond 247") << "CommandWriteComms"
                                                 << "300" << true;
        QTest::newRow("comms Write, a number") << "CommandWriteComms"
                                               << "17" << false;
        QTest::newRow("main Write, hex-looking") << "Command4_0"
                                                 << "17h" << true;
        QTest::newRow("main Write, a number") << "Command4_0"
                                              << "17" << false;
    }

    void addressNotANumberIsRefused() {
        QFETCH(QString, button);
        QFETCH(QString, address);
        QFETCH(bool, refused);
        Rig rig;
        Form1 form(rig.options);
        form.show();
        form.findChild<QGroupBox*>("FrameComms")->show();
        form.link().state.RegCache[0] = 0x07000000;
        form.link().state.refreshRegRecord();
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        // Let the identity read at start-up end unanswered.
        sim::SimUnit unit{sim::SimProfile{}};
        serveUnit(form, unit, {":R00#"}, [&] { return !form.link().busy(); });
        port->written.clear();
        form.findChild<QLineEdit*>("TextAddress")->setText(address);
        form.findChild<QPushButton*>(button)->click();
        QCOMPARE(rig.prompts->messages.size(), refused ? 1 : 0);
        if (refused) {
            QVERIFY(rig.prompts->messages.first().contains('"' + address + "\" is not an address"));
            QVERIFY(port->written.isEmpty());
        } else {
            QVERIFY(!port->written.isEmpty());
        }
    }

    // The port in use stays listed and selected through the rescans, also
    // when the system does not list it (open by us, or typed).
    void chosenPortStaysListedThroughRescans_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("port the system stopped listing") << "ttyUSB3";
        QTest::newRow("pseudo-terminal path") << "/dev/pts/7";
        QTest::newRow("stable USB name")
            << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    }

    void chosenPortStaysListedThroughRescans() {
        QFETCH(QString, typed);
        Rig rig;
        Form1 form(rig.options);
        form.show();
        auto* box = form.findChild<QComboBox*>("Combo2");
        QVERIFY(box->isEditable());
        box->lineEdit()->setText(typed);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(form.link().serial.port()->name(), typed);
        QVERIFY(readFile(rig.options.settingsPath).contains("PORT=" + typed.toLatin1() + "\r\n"));
        for (int i = 0; i < 3; ++i) {
            form.refreshPorts();
            QCOMPARE(box->currentText(), typed);
            QCOMPARE(box->currentData().toString(), typed);
        }
        // Choosing a listed port from the list still works.
        const int at = box->findData(QStringLiteral("ttyS0"));
        QVERIFY(at >= 0);
        box->setCurrentIndex(at);
        emit box->activated(at);
        QCOMPARE(form.link().serial.port()->name(), QStringLiteral("ttyS0"));
        form.refreshPorts();
        QCOMPARE(box->currentText(), QStringLiteral("ttyS0"));
    }

    // While the line is quiet the clock rests (no tick runs); the next frame
    // wakes it, and the ticks it rested are counted, so time in the views
    // stays true.
    void clockRestsWhileTheLineIsQuiet() {
        Rig rig;
        Form1 form(rig.options);
        QTRY_VERIFY_WITH_TIMEOUT(form.link().atRest(), 10000); // the start-up read, unanswered
        const int before = form.link().poll.tickCount();
        QTest::qWait(600);
        QCOMPARE(form.link().poll.tickCount(), before);
        form.findChild<QPushButton*>("Command4_1")->click();
        QVERIFY2(form.link().poll.tickCount() >= before + 600 / PollCycle::kTickMs,
                 qPrintable(QString::number(form.link().poll.tickCount() - before)));
        QVERIFY(!form.link().atRest());
    }

    // A batch without a single answer is said in words, once per silence,
    // and the identity lines grey; the next answer clears both.
    void silenceIsSaidOnceAndClearedByTheNextAnswer() {
        Rig rig;
        Form1 form(rig.options);
        form.show();
        auto* port = static_cast<test::FakePort*>(form.link().serial.port());
        auto* status = form.findChild<QLabel*>("StatusPort");
        auto* identity = form.findChild<QLabel*>("Label10_1");
        const QString said = "No unit answered on ttyUSB0: check cable, power and port";
        QTRY_VERIFY_WITH_TIMEOUT(!form.link().busy(), 10000); // the start-up read, unanswered
        QCOMPARE(status->text(), said);
        QVERIFY(!identity->isEnabled());
        form.findChild<QPushButton*>("Command4_1")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.link().busy(), 10000);
        QCOMPARE(logText(form).count(said), 1);

        sim::SimUnit unit{sim::SimProfile{}};
        port->written.clear();
        form.findChild<QPushButton*>("Command4_1")->click();
        serveUnit(form, unit, {}, [&] { return form.context().appid == 1; });
        QVERIFY(status->text() != said);
        QVERIFY(identity->isEnabled());

        // A new silence is said again.
        form.findChild<QPushButton*>("Command4_1")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.link().busy(), 10000);
        QCOMPARE(logText(form).count(said), 2);
        QCOMPARE(status->text(), said);
    }

    void aboutBox_data() {
        QTest::addColumn<QByteArray>("catalogue");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("oemLogo");
        QTest::newRow("built-in texts")
            << QByteArray() << "About:Quorvel Touchscreen Configuration Tool" << false;
        QTest::newRow("OEM company line shows the partner logo")
            << QByteArray("10003\t") + kOemCompanyLine + "\r\n106\tInfo\r\n"
            << "Info:Quorvel Touchscreen Configuration Tool" << true;
        QTest::newRow("another company line hides it")
            << QByteArray("10003\tSomebody Else Ltd\r\n")
            << "About:Quorvel Touchscreen Configuration Tool" << false;
    }

    void aboutBox() {
        QFETCH(QByteArray, catalogue);
        QTemporaryDir dir;
        LangDll lang(QLocale::c(), {dir.path()});
        if (!catalogue.isEmpty()) {
            writeFile(dir.filePath("about.lng"), catalogue);
            QVERIFY(lang.LoadLangDll("about"));
        }
        frmAbout about(lang);
        QTEST(about.windowTitle(), "title");
        QCOMPARE(about.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Version 2.0.21"));
        QTEST(!about.findChild<QLabel*>("picIcon_1")->isHidden(), "oemLogo");
        QVERIFY(frmAbout::disclaimerText("X").contains("2020 X. All rights reserved.\r\n\r\n"));
        QVERIFY(frmAbout::disclaimerText("X").contains("2011-2018 ShumaTech"));
    }

    void identityLinesHideAndShowAgain() {
        Link link;
        Persist persist(QString{});
        LangDll lang(QLocale::c(), {});
        test::ScriptedPrompts prompts;
        ViewTabs tabs(link);
        AppContext ctx{link, persist, lang, prompts, tabs, {}, -1};
        IdentityView view(ctx);
        auto* sn = view.findChild<QLabel*>("Label10_3");
        auto* date = view.findChild<QLabel*>("Label10_4");
        QCOMPARE(view.findChild<QLabel*>("Label10_0")->text(), QStringLiteral("Unique ID:"));

        link.state.RegCache[3] = 0;
        link.state.refreshRegRecord();
        view.refresh();
        QVERIFY(sn->isHidden() && date->isHidden());
        QVERIFY(view.findChild<QLabel*>("Label10_0")->text().startsWith("UniqueID: "));

        link.state.RegCache[3] = 0x5100BC61; // Q-48225
        link.state.refreshRegRecord();
        view.refresh();
        QVERIFY(!sn->isHidden() && !date->isHidden());
        QCOMPARE(sn->text(), QStringLiteral("S/N: Q-48225"));
    }

    void startAgainstSimulatedUnit_data() {
        QTest::addColumn<uint32_t>("features");
        QTest::addColumn<QStringList>("heads");
        QTest::addColumn<bool>("commsFrame");
        QTest::newRow("MODBUS with CO2")
            << (1u << 1 | 1u << 3) << QStringList{"Device", "CO2"} << true;
        QTest::newRow("BACnet without CO2") << (1u << 2) << QStringList{"Device"} << true;
        QTest::newRow("neither bus nor CO2") << (1u << 4) << QStringList{"Device"} << false;
    }

    void startAgainstSimulatedUnit() {
        QFETCH(uint32_t, features);
        sim::SimProfile profile;
        profile.featureFlags = features;
        profile.appId = 3;
        sim::PtySimServer unit(profile);
        QVERIFY2(unit.start(), qPrintable(unit.errorString()));
        Rig rig;
        rig.onPseudoTerminal(unit.slavePath());
        Form1 form(rig.options);
        waitForIdentity(form, 3);
        if (QTest::currentTestFailed())
            return;

        // The identity batch went out whole and in order.
        QStringList sent;
        const QStringList log = logText(form).split('\n');
        for (const QString& line : log)
            if (line.startsWith(QStringLiteral("[Tx] ")))
                sent << line.mid(5);
        const QStringList identity{":R00#", ":R01#", ":U00#", ":U01#", ":U02#", ":U03#",
                                   ":U04#", ":R02#", ":R21#", ":R23#", ":R24#", ":R03#",
                                   ":R04#", ":R0D#", ":R0E#", ":R0F#"};
        QVERIFY(sent.size() >= identity.size());
        QCOMPARE(sent.mid(sent.size() - identity.size()), identity);
        QTEST(heads(form), "heads");
        QTEST(!form.findChild<QGroupBox*>("FrameComms")->isHidden(), "commsFrame");
        QVERIFY(form.findChild<QLabel*>("Label10_1")->text().startsWith("Firmware Version: 2"));
        // The stored port stays what it was: a simulated unit is not remembered.
        QVERIFY(!readFile(rig.options.settingsPath).contains(unit.slavePath().toLatin1()));
    }

    // The real start-up over a pseudo-terminal against a unit that answers
    // within 2 ms: the identity read goes out once, whole and in order, and
    // the Device view shows the unit's own identity.
    void startUpShowsTheTrueIdentity() {
        sim::SimProfile profile;
        profile.appId = 3;
        profile.uniqueId = {0x12345678u, 0x0A1B2C3Du, 0x00420017u, 0xFFFFFFFEu};
        sim::PtySimServer unit(profile);
        unit.setTurnaroundMs(2.0);
        QVERIFY2(unit.start(), qPrintable(unit.errorString()));
        Rig rig;
        rig.onPseudoTerminal(unit.slavePath());
        Form1 form(rig.options);
        waitForIdentity(form, 3);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(form.findChild<QLabel*>("Label10_0")->text(),
                 QStringLiteral("UniqueID: 12345678-0A1B2C3D-00420017-FFFFFFFE"));
        QCOMPARE(form.link().serial.counters.framesSent, 16);
        QCOMPARE(form.link().serial.counters.repliesDispatched, 16);
        QCOMPARE(form.link().serial.counters.repliesLost, 0);
        QCOMPARE(form.link().serial.counters.repliesStale, 0);
    }
};

QTEST_MAIN(TestForm1)
#include "test_main_window.moc"
