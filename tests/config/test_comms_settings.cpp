// The field-bus settings of register 21 and the device instance.
#include "app/lang_dll.h"
#include "config/comms_settings.h"
#include "support/fake_port.h"

#include <QtTest>

using namespace gp;

namespace {

constexpr int32_t kBacnet = 1 << 2;
constexpr int32_t kModbus = 1 << 1;

void setReg(DeviceState& s, int reg, int32_t value) {
    s.setRegister(reg, value, ValueSource::Unit);
}

} // namespace

class TestCommsSettings : public QObject {
    Q_OBJECT
  private slots:
    void encodeDecodeRoundTrip() {
        const CommsSettings c{1, 1, 1, 0};
        QCOMPARE(encodeComms(c), 0x00010101);
        QCOMPARE(decodeComms(0x01020347), (CommsSettings{0x47, 3, 2, 1}));
        QCOMPARE(decodeComms(encodeComms({247, 3, 2, 1})), (CommsSettings{247, 3, 2, 1}));
    }

    void writeSendsRegister21LowByteFirst() {
        Link link;
        auto port = std::make_unique<test::FakePort>();
        test::FakePort* raw = port.get();
        link.serial.setPort(std::move(port));
        link.serial.choosePort(QStringLiteral("ttyFAKE0"));
        for (int r : {0x01, 0x04, 0x21})
            setReg(link.state, r, 0);
        setReg(link.state, 0x23, 127);
        setReg(link.state, 0x24, 0);
        writeComms(link, {"1", 1, 1, 0, "0 = Auto"});
        QCOMPARE(raw->writtenFrames(), QStringList{":W2101010100#"});
        QCOMPARE(link.poll.CmdQueue[1], QStringLiteral(":W237F000000#"));
        QCOMPARE(link.poll.CmdQueue[2], QStringLiteral(":W2400000000#"));
        // ":SU#" follows in a batch of its own once the writes are confirmed.
        QVERIFY(link.poll.CmdQueue[3].isEmpty());
    }

    void address_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::newRow("248 keeps the old address") << "248" << 9;
        QTest::newRow("247 is taken") << "247" << 247;
        QTest::newRow("12.4 rounds to 12") << "12.4" << 12;
        QTest::newRow("0 is taken") << "0" << 0;
        QTest::newRow("text keeps the old address") << "abc" << 9;
        QTest::newRow("empty keeps the old address") << "" << 9;
        QTest::newRow("negative keeps the old address") << "-1" << 9;
    }

    void address() {
        QFETCH(QString, text);
        DeviceState s;
        setReg(s, 0x21, 0x01020309);
        StoreCommsControls(s, {text, 2, 1, 0, "0"});
        QTEST(decodeComms(s.RegRecord.asInt(0x21)).address, "address");
        QCOMPARE(decodeComms(s.RegRecord.asInt(0x21)).baud, 2);
        QCOMPARE(decodeComms(s.RegRecord.asInt(0x21)).stop, 0);
    }

    void noSelectionStoresZero() {
        DeviceState s;
        setReg(s, 0x21, 0x01020309);
        StoreCommsControls(s, {"9", -1, -1, -1, ""});
        QCOMPARE(s.RegRecord.asInt(0x21), 9);
    }

    void deviceId_data() {
        QTest::addColumn<int32_t>("features");
        QTest::addColumn<int>("vendor");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int32_t>("stored");
        QTest::addColumn<bool>("read"); // the unit answered the read of register 24
        QTest::newRow("number taken") << kBacnet << OwnVendorId << "4711" << 4711 << true;
        QTest::newRow("largest taken") << kBacnet << OwnVendorId << "4194303" << 4194303 << true;
        QTest::newRow("4194304 keeps the old")
            << kBacnet << OwnVendorId << "4194304" << 555 << true;
        QTest::newRow("empty means automatic") << kBacnet << OwnVendorId << "" << 0 << true;
        QTest::newRow("text means automatic") << kBacnet << OwnVendorId << "0 = Auto" << 0 << true;
        QTest::newRow("typed 0 means automatic") << kBacnet << OwnVendorId << "0" << 0 << true;
        QTest::newRow("negative keeps the old") << kBacnet << OwnVendorId << "-3" << 555 << true;
        QTest::newRow("not BACnet: ignored") << kModbus << OwnVendorId << "4711" << 555 << true;
        QTest::newRow("other vendor: ignored")
            << kBacnet << OwnVendorId + 1 << "4711" << 555 << true;
        QTest::newRow("unanswered read: empty box leaves the register")
            << kBacnet << OwnVendorId << "" << 555 << false;
    }

    void deviceId() {
        QFETCH(int32_t, features);
        QFETCH(int, vendor);
        QFETCH(QString, text);
        DeviceState s;
        setReg(s, 0x01, features);
        setReg(s, 0x04, vendor);
        setReg(s, 0x24, 555);
        QFETCH(bool, read);
        StoreCommsControls(s, {"1", 0, 0, 0, text, read});
        QTEST(s.RegRecord.asInt(0x24), "stored");
    }

    void readControls_data() {
        QTest::addColumn<int32_t>("reg21");
        QTest::addColumn<int32_t>("reg24");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("deviceId");
        QTest::newRow("automatic device id") << 0x00010101 << 0 << "1" << 1 << 1 << 0 << "0 = Auto";
        QTest::newRow("device id number")
            << 0x01020300 + 247 << 4711 << "247" << 3 << 2 << 1 << "4711";
        QTest::newRow("bytes beyond the lists keep the selection")
            << 0x02030405 << 0 << "5" << -1 << -1 << -1 << "0 = Auto";
    }

    void readControls() {
        QFETCH(int32_t, reg21);
        QFETCH(int32_t, reg24);
        DeviceState s;
        setReg(s, 0x21, reg21);
        setReg(s, 0x24, reg24);
        LangDll lang(QLocale::c(), {});
        const CommsControls c = ReadCommsControls(s, lang);
        QTEST(c.address, "address");
        QTEST(c.baud, "baud");
        QTEST(c.parity, "parity");
        QTEST(c.stop, "stop");
        QTEST(c.deviceId, "deviceId");
    }

    void singleFramesBypassTheQueue() {
        Link link;
        auto port = std::make_unique<test::FakePort>();
        test::FakePort* raw = port.get();
        link.serial.setPort(std::move(port));
        link.serial.choosePort(QStringLiteral("ttyFAKE0"));
        link.poll.CmdQueuePos = -1;
        sendServicePin(link);
        sendDefaults(link);
        sendReset(link);
        QCOMPARE(raw->writtenFrames(), (QStringList{":SB#", ":SD#", ":SR#"}));
        QCOMPARE(link.poll.CmdQueuePos, -1);

        // The burn command is a batch of one, and leaves the progress bar.
        link.SetProgress(0.5, 0);
        burnSettings(link);
        QCOMPARE(raw->writtenFrames().last(), QStringLiteral(":SP#"));
        QCOMPARE(link.poll.CmdQueuePos, 0);
        QCOMPARE(link.poll.CmdQueueLen, 1);
        QVERIFY(link.poll.CmdQueue[1].isEmpty());
        QCOMPARE(link.progress.state().fraction, 0.5);
    }
};

QTEST_GUILESS_MAIN(TestCommsSettings)
#include "test_comms_settings.moc"
