// The configuration tools offscreen against the simulated unit: the product
// frame writes what its controls show, the File menu load refuses another
// product's file, and the save window reads, asks and writes.
#include "app/app_context.h"
#include "config/config_load.h"
#include "config/config_tools_view.h"
#include "config/product_config_view.h"
#include "config/save_config.h"
#include "config/save_config_window.h"
#include "diag/identity.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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
    ConfigToolsView* view = new ConfigToolsView(ctx, &window);

    template <class T> T* find(const QString& name) { return window.findChild<T*>(name); }
    // Reads registers 01..0F and fills the product frame from them.
    void readProductRegisters() {
        QStringList reads;
        for (int reg = 1; reg <= 15; ++reg)
            reads << QString(":R%1#").arg(reg, 2, 16, QChar('0')).toUpper();
        sim.link.startBatch(reads);
        sim.runBatch();
        view->showFromRegisters();
    }
    void settle() {
        sim.runBatch();
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            sim.step();
        }
    }
};
} // namespace

class TestConfigToolsView : public QObject {
    Q_OBJECT
  private slots:
    void productFrameShowsRegistersAndWritesControls() {
        ViewRig r;
        IdentityRead(r.sim.link);
        r.sim.runBatch();
        QStringList reads;
        for (int reg = 4; reg <= 15; ++reg)
            reads << QString(":R%1#").arg(reg, 2, 16, QChar('0')).toUpper();
        r.sim.link.startBatch(reads);
        r.sim.runBatch();
        r.view->showFromRegisters();
        QCOMPARE(r.find<QLineEdit>("TextProduct")->text(), QString("QRU-420"));
        QCOMPARE(r.find<QComboBox>("ComboApp")->currentIndex(), 1);
        QVERIFY(r.find<QCheckBox>("CheckProfile_1")->isChecked());
        QVERIFY(!r.find<QCheckBox>("CheckProfile_2")->isChecked());
        QCOMPARE(r.find<QCheckBox>("CheckProfile_27")->text(), QString("INT NTC"));

        r.find<QCheckBox>("CheckProfile_2")->setChecked(true);
        r.find<QLineEdit>("TextVendor")->setText("300");
        const int from = static_cast<int>(r.sim.unit().frameHistory().size());
        r.find<QPushButton>("CommandSetCfg")->click();
        r.sim.runBatch();
        const QStringList sent = r.sim.unit().frameHistory().mid(from);
        QCOMPARE(sent.size(), 16);
        QCOMPARE(sent[1], QString(":W042C010000#"));
        QCOMPARE(sent.mid(13), (QStringList{":SP#", ":SD#", ":SR#"}));
        QVERIFY(r.sim.unit().reg(1) & (1 << 2));
    }

    // The box shows register 04's low 16 bits signed and a write takes only
    // 1..32656 from it: a vendor id it cannot carry goes back as read when
    // the box was left alone, and what is typed is written as typed.
    void vendorIdTheBoxCannotCarry_data() {
        QTest::addColumn<QString>("typed"); // empty: left as shown
        QTest::addColumn<QString>("frame");
        QTest::newRow("left alone") << ""
                                    << ":W04409C0000#";
        QTest::newRow("typed over") << "300"
                                    << ":W042C010000#";
    }
    void vendorIdTheBoxCannotCarry() {
        QFETCH(QString, typed);
        ViewRig r;
        r.sim.unit().setReg(0x04, 40000);
        r.readProductRegisters();
        QCOMPARE(r.find<QLineEdit>("TextVendor")->text(), QString("-25536"));
        if (!typed.isEmpty())
            r.find<QLineEdit>("TextVendor")->setText(typed);
        const int from = static_cast<int>(r.sim.unit().frameHistory().size());
        r.find<QPushButton>("CommandSetCfg")->click();
        r.sim.runBatch();
        const QStringList sent = r.sim.unit().frameHistory().mid(from);
        QCOMPARE(sent.size(), 16);
        QTEST(sent[1], "frame");
    }

    // A unit can hold a name that fills its registers with no zero byte:
    // the box shows it whole, and a write still cuts it to what fits with
    // the zero byte.
    void namesShownWholeWrittenCut_data() {
        QTest::addColumn<int>("firstReg");
        QTest::addColumn<QByteArray>("held");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("lastFrame");
        QTest::newRow("product name of 12 characters")
            << 0x0D << QByteArray("ABCDEFGHIJKL") << "TextProduct"
            << ":W0F494A4B00#";
        QTest::newRow("vendor name of 32 characters")
            << 0x05 << QByteArray("Quorvel Building Controls Ltd 12") << "TextVendorName"
            << ":W0C64203100#";
    }

    void namesShownWholeWrittenCut() {
        QFETCH(int, firstReg);
        QFETCH(QByteArray, held);
        QFETCH(QString, box);
        QFETCH(QString, lastFrame);
        ViewRig r;
        QCOMPARE(r.find<QLineEdit>(box)->maxLength(), held.size() - 1);
        for (int k = 0; k < held.size() / 4; ++k) {
            uint32_t v = 0;
            for (int i = 0; i < 4; ++i)
                v |= uint32_t(uint8_t(held[4 * k + i])) << (8 * i);
            r.sim.unit().setReg(firstReg + k, int32_t(v));
        }
        r.readProductRegisters();
        QCOMPARE(r.find<QLineEdit>(box)->text(), QString::fromLatin1(held));
        const int from = static_cast<int>(r.sim.unit().frameHistory().size());
        r.find<QPushButton>("CommandSetCfg")->click();
        r.sim.runBatch();
        const QStringList sent = r.sim.unit().frameHistory().mid(from);
        QCOMPARE(sent.size(), 16);
        const int lastOfName = firstReg == 0x0D ? 12 : 9;
        QTEST(sent[lastOfName], "lastFrame");
        // A shorter name shown later gives typing its limit back (once the
        // unit is back from the reset that ends the write).
        r.sim.runTicks(150);
        r.sim.unit().setReg(firstReg, int32_t(0x00004241)); // "AB"
        r.readProductRegisters();
        QCOMPARE(r.find<QLineEdit>(box)->text(), QString("AB"));
        QCOMPARE(r.find<QLineEdit>(box)->maxLength(), held.size() - 1);
    }

    void saveWindowWritesFileAndLoadRefusesOtherProduct() {
        ViewRig r;
        IdentityRead(r.sim.link);
        r.sim.runBatch();
        const QString path = r.dir.filePath("a.cfg");
        r.prompts.files << path;
        Form5 dialog(r.ctx, false);
        r.sim.alsoTick = [&] { dialog.machine().tick(); };
        QVERIFY(r.sim.runUntil([&] { return dialog.machine().finished(); }));
        QVERIFY(QFile::exists(path));
        r.sim.alsoTick = nullptr;

        // The cable now leads to a unit with other features; the cache still
        // holds the first unit's registers 00 and 01.
        r.sim.unit().setReg(1, r.sim.unit().reg(1) ^ (1 << 5));
        const int from = static_cast<int>(r.sim.unit().frameHistory().size());
        r.prompts.files << path;
        r.prompts.answers << true; // "Write ... registers to the unit now?"
        r.view->openConfigFile();
        r.settle();
        QTRY_COMPARE(r.prompts.messages.size(), 1);
        QVERIFY(r.prompts.messages.first().contains("Wrong Product Type."));
        // Two frames, the reads of 00 and 01, and nothing written.
        QCOMPARE(r.sim.unit().frameHistory().mid(from), (QStringList{":R00#", ":R01#"}));
    }

    void suggestedName_data() {
        QTest::addColumn<int32_t>("serial");
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("name");
        QTest::newRow("serial number")
            << int32_t(0x5100BC61) << QByteArray("qru420") << "QRU420_Q-48225_2026-03-14.cfg";
        QTest::newRow("no serial number: the unique id")
            << int32_t(0) << QByteArray("qru420") << "QRU420_0001-A2-33-7F_2026-03-14.cfg";
        QTest::newRow("characters no file name should hold")
            << int32_t(0x5100BC61) << QByteArray("a/b c") << "A-B-C_Q-48225_2026-03-14.cfg";
        QTest::newRow("no product name")
            << int32_t(0x5100BC61) << QByteArray() << "UNIT_Q-48225_2026-03-14.cfg";
    }

    void suggestedName() {
        QFETCH(int32_t, serial);
        QFETCH(QByteArray, product);
        DeviceState s;
        s.RegCache[3] = serial;
        product = product.leftJustified(12, '\0');
        for (int r = 0; r < 3; ++r) {
            uint32_t v = 0;
            for (int i = 0; i < 4; ++i)
                v |= uint32_t(uint8_t(product[r * 4 + i])) << (8 * i);
            s.RegCache[0x0D + r] = int32_t(v);
        }
        s.refreshRegRecord();
        s.IdentStrings = {"0001", "A2", "33", "7F", ""};
        QTEST(suggestedConfigName(s, QDate(2026, 3, 14)), "name");
    }

    // File > Save offers the suggested name in the folder last used, adds
    // ".cfg" to a name typed without one, and says where it saved.
    void saveSuggestsNameAddsSuffixAndSaysWhere() {
        ViewRig r;
        IdentityRead(r.sim.link);
        r.sim.runBatch();
        QVERIFY(QDir(r.dir.path()).mkpath("jobs"));
        const QString folder = r.dir.filePath("jobs");
        r.persist.WriteIniValue("CFG_FOLDER", folder);
        r.prompts.files << QDir(folder).filePath("bench");
        QString said;
        r.view->onSaved = [&](const QString& s) { said = s; };
        QTimer unit;
        QObject::connect(&unit, &QTimer::timeout, [&] { r.sim.step(); });
        unit.start(0);
        r.view->saveConfigFile();
        unit.stop();
        QCOMPARE(r.prompts.startPaths.size(), 1);
        QCOMPARE(r.prompts.startPaths.first(), QDir(folder).filePath(suggestedConfigName(
                                                   r.sim.link.state, QDate::currentDate())));
        QVERIFY(QFile::exists(QDir(folder).filePath("bench.cfg")));
        QVERIFY2(said.endsWith(QDir(folder).filePath("bench.cfg")), qPrintable(said));
        QVERIFY(r.sim.link.log.lines().contains(said));
        QCOMPARE(r.persist.ReadIniValue("CFG_FOLDER").value_or(QString()), folder);

        // Open starts in the same folder.
        r.prompts.startPaths.clear();
        r.view->openConfigFile();
        QCOMPARE(r.prompts.startPaths, QStringList{folder});
    }

    // A load says the product and how many registers it writes and asks
    // first; No (the default answer) writes nothing. With "Verify after
    // load" ticked (kept in the settings) every register written is read
    // back after ":SU#".
    void loadAsksBeforeTheFirstWrite_data() {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("verify");
        QTest::newRow("no") << false << false;
        QTest::newRow("yes") << true << false;
        QTest::newRow("yes, verify after load") << true << true;
    }

    void loadAsksBeforeTheFirstWrite() {
        QFETCH(bool, yes);
        QFETCH(bool, verify);
        ViewRig r;
        setVerifyAfterLoad(r.persist, verify);
        IdentityRead(r.sim.link);
        r.sim.runBatch();
        const QString path = r.dir.filePath("a.cfg");
        r.prompts.files << path;
        Form5 dialog(r.ctx, false);
        r.sim.alsoTick = [&] { dialog.machine().tick(); };
        QVERIFY(r.sim.runUntil([&] { return dialog.machine().finished(); }));
        r.sim.alsoTick = nullptr;
        QVERIFY(QFile::exists(path));

        const auto before = r.sim.unit().framesReceived();
        r.prompts.files << path;
        r.prompts.answers << yes;
        r.view->openConfigFile();
        QCOMPARE(r.prompts.asked.size(), 1);
        const QString asked = r.prompts.asked.first();
        QVERIFY2(QRegularExpression("a\\.cfg holds settings for \\S+\\.\\s+Write \\d+ registers")
                     .match(asked)
                     .hasMatch(),
                 qPrintable(asked));
        r.settle();
        if (yes)
            QVERIFY(r.sim.unit().framesReceived() > before);
        else
            QCOMPARE(r.sim.unit().framesReceived(), before);
        const QStringList sent = r.sim.unit().frameHistory();
        const qsizetype stored = sent.lastIndexOf(":SU#");
        QCOMPARE(stored >= 0, yes);
        QCOMPARE(stored >= 0 && sent.indexOf(":R40#", stored) > stored, verify);
        QCOMPARE(verifyAfterLoad(r.persist), verify);
    }

    void saveWindowCanBeClosedWhileTheUnitIsSilent() {
        ViewRig r;
        r.sim.port->setSilent(true);
        Form5 dialog(r.ctx, false);
        dialog.machine().tick();
        dialog.machine().tick();
        r.sim.runTicks(10);
        QVERIFY(r.sim.link.busy());
        dialog.reject();
        QVERIFY(dialog.machine().finished());
        QVERIFY(!r.sim.link.busy());
        QVERIFY(r.prompts.filters.isEmpty());
    }

    // Return while the registers are read keeps the save going: Cancel is
    // not the default button.
    void returnDoesNotAbandonTheSave() {
        ViewRig r;
        Form5 dialog(r.ctx, false);
        dialog.show();
        dialog.tick();
        dialog.tick();
        r.sim.runTicks(5);
        QVERIFY(r.sim.link.busy());
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.machine().finished());
        QVERIFY(r.sim.link.busy());
    }

    // "No" to reading again leaves the window open saying that nothing was
    // saved; then Close is the default and Return closes.
    void noToReadingAgainSaysNotSaved() {
        ViewRig r;
        r.sim.port->setSilent(true);
        Form5 dialog(r.ctx, false);
        dialog.show();
        r.sim.alsoTick = [&] { dialog.tick(); };
        QVERIFY(r.sim.runUntil([&] { return dialog.machine().finished(); }));
        r.sim.alsoTick = nullptr;
        QCOMPARE(r.prompts.asked.size(), 1);
        QVERIFY(r.prompts.asked.first().contains("Read all registers again?"));
        QVERIFY(r.prompts.filters.isEmpty());
        QVERIFY(dialog.isVisible());
        auto* status = dialog.findChild<QLabel*>("Label1");
        QVERIFY2(status->text().startsWith("Not saved"), qPrintable(status->text()));
        // The whole message shows: the window grew to hold it.
        QTRY_VERIFY2(status->height() >= status->heightForWidth(status->width()),
                     qPrintable(QStringLiteral("%1 < %2")
                                    .arg(status->height())
                                    .arg(status->heightForWidth(status->width()))));
        auto* close = dialog.findChild<QPushButton*>("CommandClose");
        QVERIFY(close && close->isDefault());
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestConfigToolsView)
#include "test_config_tools_view.moc"
