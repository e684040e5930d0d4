// The identity read batch and the five identity lines.
#include "app/lang_dll.h"
#include "app/view_tabs.h"
#include "diag/identity.h"
#include "sim/sim_port.h"

#include <QtTest>

using namespace gp;

namespace {

// Register values as the unit sends them: the dispatcher fills both caches.
void setReg(DeviceState& s, int reg, uint32_t value) {
    s.RegCache[static_cast<size_t>(reg)] = static_cast<int32_t>(value);
    s.refreshRegRecord();
}

} // namespace

class TestIdentity : public QObject {
    Q_OBJECT
  private slots:
    void batchIsTheIdentityFramesInOrder() {
        const QStringList expected{":R00#", ":R01#", ":U00#", ":U01#", ":U02#", ":U03#",
                                   ":U04#", ":R02#", ":R21#", ":R23#", ":R24#", ":R03#",
                                   ":R04#", ":R0D#", ":R0E#", ":R0F#"};
        QCOMPARE(identityFrames(), expected);
    }

    void readFillsTheStateFromTheUnit() {
        Link link;
        auto port = std::make_unique<sim::SimPort>();
        sim::SimPort* raw = port.get();
        link.serial.setPort(std::move(port));
        QVERIFY(link.serial.choosePort(QStringLiteral("sim")));
        int completions = 0;
        ViewTabs tabs(link);
        tabs.setActiveTab(3);
        tabs.completion[3] = [&] { ++completions; };
        QVERIFY(IdentityRead(link) != 0);
        QCOMPARE(raw->unit().frameHistory().size(), 0); // nothing on the wire before time moves
        for (int i = 0; i < 400 && link.busy(); ++i) {
            raw->advance(20);
            link.tick();
        }
        QCOMPARE(link.poll.CmdQueuePos, -1);
        QCOMPARE(completions, 1);
        QCOMPARE(raw->unit().frameHistory().mid(0, identityFrames().size()), identityFrames());
        QCOMPARE(link.state.FirmwareVersion, int16_t(221));
        QCOMPARE(link.state.IdentStrings[1], QStringLiteral("0A1B2C3D"));
        QCOMPARE(link.state.RegRecord.asInt(0x21), 1);
        QCOMPARE(appIdOf(link.state), 1);
    }

    // The identity's own frames decide whether the Device view is filled;
    // a unit that leaves an appended read unanswered costs only that field.
    void appendedReadsDoNotDecideCompletion_data() {
        QTest::addColumn<QList<int>>("dropped"); // 1 = the batch's first frame
        QTest::addColumn<int>("endPos");
        QTest::addColumn<bool>("completesDespiteLoss");
        QTest::addColumn<bool>("ownAnswered");
        QTest::addColumn<QList<int>>("unread");
        QTest::newRow("everything answered") << QList<int>{} << -1 << false << true << QList<int>{};
        QTest::newRow("register 24 unanswered")
            << QList<int>{11} << -1 << false << true << QList<int>{0x24};
        QTest::newRow("the last appended read (0F) unanswered")
            << QList<int>{16} << -2 << true << true << QList<int>{0x0F};
        QTest::newRow("serial number and product name unanswered")
            << QList<int>{12, 14, 15, 16} << -2 << true << true
            << QList<int>{0x03, 0x0D, 0x0E, 0x0F};
        QTest::newRow("register 23 and 24 unanswered")
            << QList<int>{10, 11} << -1 << false << false << QList<int>{0x24};
        QTest::newRow("an own frame unanswered, the last answered")
            << QList<int>{3} << -1 << false << false << QList<int>{};
    }

    void appendedReadsDoNotDecideCompletion() {
        QFETCH(QList<int>, dropped);
        Link link;
        auto port = std::make_unique<sim::SimPort>();
        sim::SimPort* raw = port.get();
        link.serial.setPort(std::move(port));
        QVERIFY(link.serial.choosePort(QStringLiteral("sim")));
        for (int n : dropped)
            raw->dropReplyToFrame(n);
        QVERIFY(IdentityRead(link) != 0);
        for (int i = 0; i < 1000 && link.busy(); ++i) {
            raw->advance(20);
            link.tick();
        }
        QTEST(link.poll.CmdQueuePos, "endPos");
        QTEST(identityCompletesDespiteLoss(link.poll), "completesDespiteLoss");
        const IdentityOutcome o = identityOutcome(link.poll);
        QVERIFY(o.identityBatch);
        QTEST(o.ownFramesAnswered, "ownAnswered");
        QTEST(o.unreadAppended, "unread");
        // Any other batch is not the identity batch.
        link.startBatch({identityFrames().first()});
        QVERIFY(!identityOutcome(link.poll).identityBatch);
    }

    void lines_data() {
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<uint32_t>("date");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("productLine");
        QTest::addColumn<QString>("serialLine");
        QTest::addColumn<QString>("dateLine");
        QTest::addColumn<bool>("serialVisible");

        QTest::newRow("letter and number")
            << 0x4100BC61u << 0x00130C05u << QByteArray("qru-420") << "Product Type: QRU-420"
            << "S/N: A-48225"
            << "Date Code: 05/12/19" << true;
        QTest::newRow("zero top byte shows the number alone")
            << 0x0000BC61u << 0x00140107u << QByteArray("x") << "Product Type: X"
            << "S/N: 48225"
            << "Date Code: 07/01/20" << true;
        QTest::newRow("date bytes above 99 keep three digits")
            << 0x51000001u << 0x00140164u << QByteArray() << "Product Type: "
            << "S/N: Q-1"
            << "Date Code: 100/01/20" << true;
        QTest::newRow("no serial number hides two lines")
            << 0u << 0x00130C05u << QByteArray("ab\0c", 4) << "Product Type: AB" << QString()
            << QString() << false;
    }

    void lines() {
        QFETCH(uint32_t, serial);
        QFETCH(uint32_t, date);
        QFETCH(QByteArray, name);
        DeviceState s;
        name.resize(12, '\0');
        for (int r = 0; r < 3; ++r) {
            uint32_t v = 0;
            for (int b = 0; b < 4; ++b)
                v |= static_cast<uint32_t>(static_cast<uint8_t>(name[r * 4 + b])) << (8 * b);
            setReg(s, 0x0D + r, v);
        }
        setReg(s, 0x03, serial);
        setReg(s, 0x02, date);
        LangDll lang(QLocale::c(), {});
        const IdentityLines l = ShowIdentity(s, lang, QLocale::c());
        QTEST(l.productType, "productLine");
        QTEST(l.serialNumber, "serialLine");
        QTEST(l.dateCode, "dateLine");
        QTEST(l.serialVisible, "serialVisible");
        QVERIFY(!l.serialNumber.contains(QChar(0)));
    }

    void uniqueIdJoinsTheRawFields() {
        DeviceState s;
        LangDll lang(QLocale::c(), {});
        QCOMPARE(ShowIdentity(s, lang, QLocale::c()).uniqueId, QStringLiteral("UniqueID: ---"));
        s.IdentStrings = {"0A1B2C3D", "00000000", "12345678", "FFFFFFFF", ""};
        QCOMPARE(ShowIdentity(s, lang, QLocale::c()).uniqueId,
                 QStringLiteral("UniqueID: 0A1B2C3D-00000000-12345678-FFFFFFFF"));
    }

    // What the wire or the registers hold may be any byte; what is shown is
    // one line of printable text.
    void unitTextIsShownPrintable_data() {
        QTest::addColumn<QString>("ident");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("uniqueId");
        QTest::addColumn<QString>("productType");
        QTest::newRow("line break in an identity item")
            << "12\r\n4567" << QByteArray("QRU-420") << "UniqueID: 12??4567-B-C-D"
            << "Product Type: QRU-420";
        QTest::newRow("escape sequence in the product name")
            << "A" << QByteArray("Q\x1b[2J\x7f") << "UniqueID: A-B-C-D"
            << "Product Type: Q?[2J?";
        QTest::newRow("Latin-1 letters stay") << "A" << QByteArray("K\xdcHL") << "UniqueID: A-B-C-D"
                                              << "Product Type: K\u00dcHL";
    }
    void unitTextIsShownPrintable() {
        QFETCH(QString, ident);
        QFETCH(QByteArray, name);
        QFETCH(QString, uniqueId);
        QFETCH(QString, productType);
        DeviceState s;
        s.IdentStrings = {ident, "B", "C", "D", ""};
        name.resize(12, '\0');
        for (int r = 0; r < 3; ++r) {
            uint32_t v = 0;
            for (int b = 0; b < 4; ++b)
                v |= uint32_t(uint8_t(name[r * 4 + b])) << (8 * b);
            setReg(s, 0x0D + r, v);
        }
        LangDll lang(QLocale::c(), {});
        const IdentityLines l = ShowIdentity(s, lang, QLocale::c());
        QCOMPARE(l.uniqueId, uniqueId);
        QCOMPARE(l.productType, productType);
    }

    void firmwareVersion_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("shown");
        QTest::newRow("English") << 105 << "en_GB"
                                 << "1.05";
        QTest::newRow("below one") << 7 << "en_US"
                                   << "0.07";
        QTest::newRow("German comma") << 221 << "de_DE"
                                      << "2,21";
        QTest::newRow("no grouping") << 32767 << "en_US"
                                     << "327.67";
        QTest::newRow("negative") << -5 << "en_US"
                                  << "-0.05";
    }

    void firmwareVersion() {
        QFETCH(int, value);
        QFETCH(QString, locale);
        QTEST(formatFirmwareVersion(value, QLocale(locale)), "shown");
    }

    void appIdIsTheTopNibbleOfRegister01() {
        DeviceState s;
        setReg(s, 1, 0x30000000u);
        QCOMPARE(appIdOf(s), 3);
        setReg(s, 1, 0xF000000Au);
        QCOMPARE(appIdOf(s), 15);
        QCOMPARE(featureNames(0x0000000A), (QStringList{"MODBUS", "CO2"}));
    }
};

QTEST_GUILESS_MAIN(TestIdentity)
#include "test_identity.moc"
