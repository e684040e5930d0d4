// The guided profile change against the simulated unit in virtual time.
#include "config/profile_change.h"
#include "flash_rig.h"

#include <QtTest>

using namespace gp;

class TestProfileChange : public QObject {
    Q_OBJECT
  private slots:
    void runs_data() {
        QTest::addColumn<QByteArray>("file"); // empty: the dialog is cancelled
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<int32_t>("reg1After"); // 0: unchanged
        // cfg=0AC00300 is the register value 0x0003C00A.
        QTest::newRow("upper-case section accepted")
            << QByteArray("[PROFILE_0]\r\nname=Room CO2\r\ncfg=0AC00300\r\nmodelname=01000000\r\n"
                          "oem=02000000\r\nfilters1=00000000\r\nfilters2=00000000\r\n")
            << true << int32_t(0x0003C00A);
        QTest::newRow("cfg alone is enough")
            << QByteArray("[profile_0]\ncfg=0AC00300\n") << true << int32_t(0x0003C00A);
        QTest::newRow("cancelled dialog") << QByteArray() << false << 0;
        QTest::newRow("empty cfg") << QByteArray("[profile_0]\ncfg=\nname=x\n") << false << 0;
        QTest::newRow("cfg too short") << QByteArray("[profile_0]\ncfg=0AC003\n") << false << 0;
        QTest::newRow("cfg not hex") << QByteArray("[profile_0]\ncfg=0AC0030G\n") << false << 0;
        QTest::newRow("cfg too long") << QByteArray("[profile_0]\ncfg=0AC0030011\n") << false << 0;
        QTest::newRow("cfg in another section")
            << QByteArray("[profile_1]\ncfg=0AC00300\n") << false << 0;
    }
    void runs() {
        QFETCH(QByteArray, file);
        QFETCH(bool, succeeds);
        QFETCH(int32_t, reg1After);
        test::FlashRig rig;
        const int32_t before = rig.unit->reg(1);
        QString path;
        // Profiles are handed out read-only; using one must leave it so.
        const auto readOnly =
            QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        QDateTime modified;
        if (!file.isEmpty()) {
            path = rig.writeFile("p.pro", file);
            QVERIFY(QFile::setPermissions(path, readOnly));
            modified = QFileInfo(path).lastModified();
            rig.prompts.files << path;
        }
        ProfileChange change(rig.ctx);
        change.clickButton();
        QStringList activities; // what the window says beside the step, in order
        QVERIFY(rig.run(change, [&] {
            if (activities.value(activities.size() - 1) != change.activity())
                activities << change.activity();
            return change.finished();
        }));
        QVERIFY2(activities.contains("Reading settings"), qPrintable(activities.join('|')));
        if (!path.isEmpty()) {
            QCOMPARE(QFile::permissions(path) &
                         ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                     readOnly);
            QCOMPARE(QFileInfo(path).lastModified(), modified);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), file);
        }
        QCOMPARE(change.succeeded(), succeeds);
        QCOMPARE(rig.prompts.filters, QStringList{"Device Profile{*.pro)|*.pro"});
        // Choosing no file cancels: no failure message, the window says so.
        const bool cancelled = file.isEmpty();
        QCOMPARE(rig.prompts.messages.size(), succeeds || cancelled ? 0 : 1);
        if (cancelled) {
            QCOMPARE(change.stepText(), QString("Cancelled"));
            QCOMPARE(change.activity(), QString("Cancelled"));
            QCOMPARE(change.buttonCaption(), QString("Start"));
            QCOMPARE(rig.unit->reg(1), before);
            QCOMPARE(rig.unit->actionCount("P"), 0);
        } else if (succeeds) {
            QVERIFY2(activities.contains("Checking"), qPrintable(activities.join('|')));
            QCOMPARE(change.stepText(), QString("Update Complete"));
            QCOMPARE(rig.unit->reg(1), reg1After);
            QCOMPARE(rig.unit->nonvolatileReg(1), reg1After);
            rig.run(
                change, [&] { return change.buttonCaption() == "Exit"; }, 1000);
            QVERIFY(change.clickButton()); // "Exit" closes
        } else {
            QVERIFY(rig.prompts.messages.first().contains("Profile Changed Failed"));
            QCOMPARE(change.buttonCaption(), QString("Start"));
            // nothing was written
            QCOMPARE(rig.unit->reg(1), before);
            QCOMPARE(rig.unit->actionCount("P"), 0);
        }
    }

    void unitSilentAfterResetGivesUpWithAMessage() {
        test::FlashRig rig;
        rig.prompts.files << rig.writeFile("p.pro", "[profile_0]\ncfg=0AC00300\n");
        ProfileChange change(rig.ctx);
        change.clickButton();
        QVERIFY(rig.run(change,
                        [&] { return change.state() == ProfileChange::State::WaitingForUnit; }));
        rig.port->setSilent(true); // the unit never answers again
        // It asks for the status for a while, then stops and says so.
        QVERIFY(rig.run(
            change, [&] { return change.state() == ProfileChange::State::Idle; }, 600000));
        const QStringList status = rig.link.log.lines().filter("[Tx] :S#");
        QVERIFY2(status.size() >= 10, qPrintable(QString::number(status.size())));
        QCOMPARE(rig.prompts.messages.size(), 1);
        QVERIFY(rig.prompts.messages.first().contains("Profile Changed Failed"));
        QVERIFY(rig.prompts.messages.first().contains("Power-cycle"));
        QCOMPARE(change.buttonCaption(), QString("Start"));
        // Nothing more goes out once it has given up.
        const int sent = static_cast<int>(rig.link.log.lines().filter("[Tx]").size());
        rig.run(
            change, [] { return false; }, 5000);
        QCOMPARE(static_cast<int>(rig.link.log.lines().filter("[Tx]").size()), sent);
    }

    // The reply to the read of register 01 after the restart is lost (late
    // on a busy machine): the read is sent again and the change succeeds.
    void lostReadBackIsReadAgain() {
        test::FlashRig rig;
        rig.prompts.files << rig.writeFile("p.pro", "[profile_0]\ncfg=0AC00300\n");
        ProfileChange change(rig.ctx);
        change.clickButton();
        QVERIFY(rig.run(
            change, [&] { return change.state() == ProfileChange::State::CheckingRegister01; }));
        rig.port->setSilent(true);
        QVERIFY(rig.run(change, [&] { return rig.link.poll.lastBatchLostItsLastReply(); }));
        rig.port->setSilent(false);
        QVERIFY(rig.run(change, [&] { return change.state() == ProfileChange::State::Complete; }));
        QVERIFY(change.succeeded());
        QVERIFY(rig.link.log.lines().filter("[Tx] :R01#").size() >= 2);
        QVERIFY(rig.prompts.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestProfileChange)
#include "test_profile_change.moc"
