// The profile change, firmware update and low-level flash windows offscreen:
// controls found by their names, what a click does, and the link after a
// window closes.
#include "config/profile_change_window.h"
#include "flash/firmware_update_window.h"
#include "flash/flash_tools_view.h"
#include "flash/low_level_flash_window.h"
#include "flash_rig.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace gp;

namespace {
template <typename T> T* child(QWidget& w, const char* name) {
    return w.findChild<T*>(QLatin1String(name));
}
} // namespace

class TestFlashWindows : public QObject {
    Q_OBJECT
  private slots:
    void form4OpensWithTheUsualOptions() {
        test::FlashRig rig;
        Form4 form(rig.ctx);
        QCOMPARE(form.windowTitle(), QString("SAMBA"));
        const struct {
            const char* name;
            const char* caption;
            bool ticked;
        } boxes[] = {{"CheckErase", "Erase All", true},      {"CheckVerify", "Verify", true},
                     {"CheckBoot", "Boot from Flash", true}, {"CheckBOD", "Brownout Detect", false},
                     {"CheckBOR", "Brownout Reset", false},  {"CheckLock", "Lock", false},
                     {"CheckSecurity", "Security", false}};
        for (const auto& b : boxes) {
            auto* box = child<QCheckBox>(form, b.name);
            QVERIFY2(box, b.name);
            QCOMPARE(box->text(), QString(b.caption));
            QCOMPARE(box->isChecked(), b.ticked);
        }
        QCOMPARE(child<QPushButton>(form, "Command1")->text(),
                 QString("Put Device into SAMBA Mode"));
        QCOMPARE(child<QPushButton>(form, "Command3")->text(), QString("browse"));
        QCOMPARE(child<QPushButton>(form, "Command2")->text(), QString("Build Shell Command"));
        QCOMPARE(child<QPushButton>(form, "Command4")->text(), QString("Execute Shell Command"));
        QVERIFY(child<QLineEdit>(form, "Text1")->text().isEmpty());
        QVERIFY(child<QLineEdit>(form, "Text2")->text().isEmpty());
    }

    void form4BuildsTheLineFromTheTickedOptions_data() {
        QTest::addColumn<QStringList>("toggle");
        QTest::addColumn<QString>("options");
        QTest::newRow("as opened") << QStringList{} << "-w -e -u -b -v";
        QTest::newRow("lock in place of unlock") << QStringList{"CheckLock"} << "-w -e -l -b -v";
        QTest::newRow("everything but erase")
            << QStringList{"CheckErase", "CheckBOD", "CheckBOR", "CheckSecurity"}
            << "-w -u -s -b -c -t -v";
    }
    void form4BuildsTheLineFromTheTickedOptions() {
        QFETCH(QStringList, toggle);
        QFETCH(QString, options);
        test::FlashRig rig;
        rig.prompts.files << "/srv/fw/unit 3.07.bin";
        Form4 form(rig.ctx);
        child<QPushButton>(form, "Command3")->click();
        QCOMPARE(child<QLineEdit>(form, "Text2")->text(), QString("/srv/fw/unit 3.07.bin"));
        for (const QString& name : toggle)
            form.findChild<QCheckBox*>(name)->click();
        child<QPushButton>(form, "Command2")->click();
        const QString expected =
            "bossac " + options + " --usb-port=0 -p/dev/ttySIM0 \"/srv/fw/unit 3.07.bin\"";
        QCOMPARE(child<QLineEdit>(form, "Text1")->text(), expected);
        // The line changes only when it is built again.
        child<QCheckBox>(form, "CheckVerify")->click();
        QCOMPARE(child<QLineEdit>(form, "Text1")->text(), expected);
    }

    // Ticking "Lock" warns that later updates fail until the region is
    // unlocked; clearing it says nothing.
    void form4WarnsWhenLockIsTicked() {
        test::FlashRig rig;
        Form4 form(rig.ctx);
        auto* lock = child<QCheckBox>(form, "CheckLock");
        lock->click();
        QCOMPARE(rig.prompts.messages.size(), 1);
        QVERIFY2(rig.prompts.messages.first().contains("later firmware update") &&
                     rig.prompts.messages.first().contains("-u"),
                 qPrintable(rig.prompts.messages.first()));
        QVERIFY(lock->toolTip().contains("unlocked"));
        lock->click();
        QCOMPARE(rig.prompts.messages.size(), 1);
    }

    // The edited line runs as it stands, without a shell, and the window
    // reports its end with the link back at the unit's settings.
    void form4ExecutesTheEditedLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("exit 0") << "true --ignored \"a b\""
                                << "Power Cylce Device";
        QTest::newRow("exit 1") << "false"
                                << "firmware load failed";
        QTest::newRow("no shell: ; is an argument") << "false ; true"
                                                    << "firmware load failed";
        QTest::newRow("program missing") << "/nonexistent/bossac -w"
                                         << "could not be started";
    }
    void form4ExecutesTheEditedLine() {
        QFETCH(QString, line);
        QFETCH(QString, message);
        test::FlashRig rig;
        rig.prompts.files << "/srv/fw/a.bin";
        Form4 form(rig.ctx);
        child<QPushButton>(form, "Command3")->click();
        child<QLineEdit>(form, "Text1")->setText(line);
        child<QPushButton>(form, "Command4")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.prompts.messages.isEmpty(), 20000);
        QVERIFY2(rig.prompts.messages.first().contains(message),
                 qPrintable(rig.prompts.messages.first()));
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(rig.link.serial.isOpen());
        QVERIFY(child<QPushButton>(form, "Command4")->isEnabled());
    }

    void form4ClosingMidRunAsksAndPutsTheLinkBack() {
        test::FlashRig rig;
        rig.prompts.files << "/srv/fw/a.bin";
        Form4 form(rig.ctx);
        form.show();
        child<QPushButton>(form, "Command3")->click();
        child<QLineEdit>(form, "Text1")->setText("sleep 30");
        child<QPushButton>(form, "Command4")->click();
        QVERIFY(form.core().toolRunning());
        QTRY_VERIFY(child<QPushButton>(form, "CommandStop")->isVisible());
        QVERIFY(!child<QPushButton>(form, "Command4")->isEnabled());
        rig.prompts.answers << false;
        QVERIFY(!form.close());
        QVERIFY(form.core().toolRunning());
        rig.prompts.answers << true;
        QVERIFY(form.close());
        QCOMPARE(rig.prompts.asked.size(), 2);
        QVERIFY(!form.core().toolRunning());
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(rig.link.serial.isOpen());
    }

    void form2StartsAndClosesMidRunOnlyWhenConfirmed() {
        test::FlashRig rig;
        Form2 form(rig.ctx, false);
        form.show();
        auto* button = child<QPushButton>(form, "Command2");
        QCOMPARE(form.windowTitle(), QString("Firmware Update"));
        QCOMPARE(child<QLabel>(form, "Label1")->text(), QString("Press \"start\" to begin."));
        QCOMPARE(button->text(), QString("Start"));
        QVERIFY(!child<QPushButton>(form, "CommandStop")->isVisible());
        QVERIFY(child<QPushButton>(form, "CommandCancel")->isVisible());
        button->click();
        // What happens is said in words, with its step, not greyed.
        QVERIFY2(child<QLabel>(form, "Label2")->text().startsWith("Step 1 of"),
                 qPrintable(child<QLabel>(form, "Label2")->text()));
        QVERIFY(child<QLabel>(form, "Label2")->isEnabled());
        QCOMPARE(button->text(), QString("Next"));
        QVERIFY(!button->isEnabled());
        rig.prompts.answers << false;
        QVERIFY(!form.close());
        rig.prompts.answers << true;
        QVERIFY(form.close());
        QCOMPARE(rig.prompts.asked.size(), 2);
        QCOMPARE(rig.port->settings(), QString("9600,n,8,1"));
        QVERIFY(rig.link.serial.isOpen());
        QVERIFY(!rig.link.serial.BootProbe);
    }

    // Before Start, Cancel closes the window and asks nothing.
    void form2CancelBeforeStartClosesAtOnce() {
        test::FlashRig rig;
        Form2 form(rig.ctx, false);
        form.show();
        child<QPushButton>(form, "CommandCancel")->click();
        QVERIFY(!form.isVisible());
        QVERIFY(rig.prompts.asked.isEmpty());
    }

    void form3RunsToUpdateCompleteAndExit() {
        test::FlashRig rig;
        rig.prompts.files << rig.writeFile("p.pro", "[profile_0]\r\ncfg=0AC00300\r\n");
        Form3 form(rig.ctx);
        form.show();
        auto* button = child<QPushButton>(form, "Command2");
        auto* label = child<QLabel>(form, "Label1");
        QCOMPARE(form.windowTitle(), QString("Profile Change"));
        QCOMPARE(label->text(), QString("Press \"start\" to begin."));
        button->click();
        QCOMPARE(button->text(), QString("Next"));
        QVERIFY(!button->isEnabled());
        // The window's own timer drives the machine; the rig's line and
        // poll cycle run beside it.
        QTimer line;
        QObject::connect(&line, &QTimer::timeout, [&] {
            rig.port->advance(20);
            rig.link.tick();
        });
        line.start(1);
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QString("Exit"), 60000);
        QCOMPARE(label->text(), QString("Update Complete"));
        QCOMPARE(rig.unit->reg(1), int32_t(0x0003C00A));
        button->click();
        QVERIFY(!form.isVisible());
    }

    void sambaButtonOpensTheLowLevelFlash() {
        test::FlashRig rig;
        FlashToolsView view(rig.ctx);
        QTimer::singleShot(0, [] {
            auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(form);
            QCOMPARE(form->objectName(), QString("Form4"));
            form->reject();
        });
        child<QPushButton>(view, "CommandSamba")->click();
        QVERIFY(rig.prompts.messages.isEmpty());
    }
};

QTEST_MAIN(TestFlashWindows)
#include "test_flash_windows.moc"
