// Frame encoding: the wire carries 32-bit values least significant byte first.
#include "link/codec.h"
#include "link/device_state.h"

#include <QtTest>

using namespace gp;

class TestCodec : public QObject {
    Q_OBJECT
  private slots:
    void hexLong_data() {
        QTest::addColumn<qint32>("value");
        QTest::addColumn<QString>("wire");
        QTest::newRow("bytes reversed") << qint32(0x12345678) << "78563412";
        QTest::newRow("one") << qint32(1) << "01000000";
        QTest::newRow("minus one") << qint32(-1) << "FFFFFFFF";
        QTest::newRow("minus two") << qint32(-2) << "FEFFFFFF";
        QTest::newRow("300") << qint32(300) << "2C010000";
        QTest::newRow("int min") << qint32(INT32_MIN) << "00000080";
    }
    void hexLong() {
        QFETCH(qint32, value);
        QFETCH(QString, wire);
        QCOMPARE(HexLong(value), wire);
        QCOMPARE(ParseHexLong(wire), value);
    }

    void parseIsLenientAboutNonDigits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("upper digit") << "0A" << 10;
        QTest::newRow("lower digit counts as 0") << "0a" << 0;
        QTest::newRow("junk") << "zz" << 0;
        QTest::newRow("lower high nibble") << "1a" << 16;
        QTest::newRow("FF") << "FF" << 255;
    }
    void parseIsLenientAboutNonDigits() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(ParseHexByte(text), value);
    }

    void shortTextIsAnError() {
        QVERIFY_THROWS_EXCEPTION(CodecError, ParseHexByte("A"));
        QVERIFY_THROWS_EXCEPTION(CodecError, ParseHexLong("1234567"));
    }

    void roundTripForManyValues() {
        for (qint64 v = INT32_MIN; v <= INT32_MAX; v += 16777259)
            QCOMPARE(ParseHexLong(HexLong(static_cast<int32_t>(v))), static_cast<int32_t>(v));
    }

    void builders() {
        DeviceState s;
        s.RegCache[4] = 300;
        s.LRegCache[0x7F] = -1;
        QCOMPARE(BuildRead(26), QString(":R1A#"));
        QCOMPARE(BuildLRead(0), QString(":L00#"));
        QCOMPARE(BuildWrite(s, 4), QString(":W042C010000#"));
        QCOMPARE(BuildLWrite(s, 0x7F), QString(":L7FFFFFFFFF#"));
        QCOMPARE(HexByte(255), QString("FF"));
        QCOMPARE(HexByte(0), QString("00"));
    }

    void buildersRejectRegistersOutOfRange_data() {
        QTest::addColumn<int>("reg");
        QTest::newRow("-1") << -1;
        QTest::newRow("256") << 256;
        QTest::newRow("1000") << 1000;
    }
    void buildersRejectRegistersOutOfRange() {
        QFETCH(int, reg);
        DeviceState s;
        QVERIFY_THROWS_EXCEPTION(CodecError, BuildRead(reg));
        QVERIFY_THROWS_EXCEPTION(CodecError, BuildLRead(reg));
        QVERIFY_THROWS_EXCEPTION(CodecError, BuildWrite(s, reg));
        QVERIFY_THROWS_EXCEPTION(CodecError, BuildLWrite(s, reg));
    }

    void swapBytes() {
        int32_t v = 0x12345678;
        SwapBytes(v);
        QCOMPARE(v, 0x78563412);
    }

    void commandFrameGrammar_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("read") << ":R01#" << true;
        QTest::newRow("write") << ":W0102000030#" << true;
        QTest::newRow("status") << ":S#" << true;
        QTest::newRow("burn") << ":SP#" << true;
        QTest::newRow("samba") << ":SAMBA#" << true;
        QTest::newRow("lower-case hex") << ":R1a#" << false;
        QTest::newRow("no hash") << ":R01" << false;
        QTest::newRow("short argument") << ":W01123#" << false;
        QTest::newRow("unknown letter") << ":X01#" << false;
        QTest::newRow("trailing junk") << ":R01#x" << false;
        QTest::newRow("empty") << "" << false;
    }
    void commandFrameGrammar() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(IsCommandFrame(text), valid);
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "test_codec.moc"
