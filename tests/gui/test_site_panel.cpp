// The desktop's site panel against the simulated unit in virtual time: the
// connected unit's row is selected once its identity is read, the apply asks
// first (naming the row), writes the row's settings, and the row's state
// and history come from the record.
#include "diag/identity.h"
#include "flash/flash_rig.h"
#include "gui/site_panel_window.h"
#include "link/codec.h"

#include <QFile>
#include <QTableWidget>
#include <QtTest>

using namespace gp;

class TestSitePanel : public QObject {
    Q_OBJECT
  private slots:
    void applyToTheConnectedUnitAsksThenRecords_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("the engineer says yes") << true;
        QTest::newRow("the engineer says no: nothing is sent") << false;
    }
    void applyToTheConnectedUnitAsksThenRecords() {
        QFETCH(bool, yes);
        sim::SimProfile profile;
        profile.featureFlags = 0x2C; // BACnet: the device id is settable
        test::FlashRig rig(profile);
        IdentityRead(rig.link);
        for (int i = 0; i < 1000 && rig.link.busy(); ++i) {
            rig.period();
            rig.link.tick();
        }
        // A template: the unit's registers 00 and 01 and one setting.
        rig.writeFile("t.cfg",
                      QStringLiteral("#CFG_Format=1\r\nR 0 %1\r\nR 1 %2\r\nN 36 00000000\r\n")
                          .arg(HexLong(rig.unit->reg(0)), HexLong(rig.unit->reg(1)))
                          .toLatin1());
        const QString plan =
            rig.writeFile("plan.csv", "sn,name,template,address,device_id\n"
                                      "Q-1,Elsewhere,t.cfg,3,7\nQ-48225,Room 4.11,t.cfg,9,4711\n");
        SitePanelWindow panel(rig.ctx, plan);
        QVERIFY2(panel.error().isEmpty(), qPrintable(panel.error()));
        QCOMPARE(panel.connectedRow(), 1);
        QCOMPARE(panel.table()->item(1, 7)->text(), QString("pending"));
        rig.prompts.answers << yes;
        const auto frames = rig.unit->framesReceived();
        QCOMPARE(panel.applyToConnectedUnit(), yes);
        QVERIFY(rig.prompts.asked.first().contains("Room 4.11") &&
                rig.prompts.asked.first().contains("Address: 9") &&
                rig.prompts.asked.first().contains("Device id: 4711"));
        if (!yes) {
            QCOMPARE(rig.unit->framesReceived(), frames);
            return;
        }
        double t = 0;
        while (panel.applying() && t < 300000) {
            rig.period();
            rig.link.tick();
            panel.tick();
            t += 20;
        }
        panel.tick();
        QVERIFY(!panel.applying());
        QCOMPARE(rig.unit->reg(0x21) & 0xFF, 9);
        QCOMPARE(rig.unit->reg(0x24), 4711);
        QCOMPARE(panel.table()->item(1, 7)->text(), QString("done"));
        QVERIFY2(rig.prompts.messages.last().contains("Room 4.11: done"),
                 qPrintable(rig.prompts.messages.join('|')));
    }

    void aPlanWithProblemsIsNotOpened() {
        test::FlashRig rig;
        const QString plan = rig.writeFile("plan.csv", "sn,template,adress\nQ-1,t.cfg,3\n");
        SitePanelWindow panel(rig.ctx, plan);
        QVERIFY2(panel.error().contains("line 1, column 3 (adress): unknown column") &&
                     panel.error().contains("line 2, column 2 (template)"),
                 qPrintable(panel.error()));
    }
};

QTEST_MAIN(TestSitePanel)
#include "test_site_panel.moc"
