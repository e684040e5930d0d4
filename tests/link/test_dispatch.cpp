// Reply decoding into the device state: kinds, lengths and item ranges.
#include "link/device_state.h"

#include <QtTest>

using namespace gp;

class TestDispatch : public QObject {
    Q_OBJECT
  private slots:
    void stores_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("index");
        QTest::addColumn<qint32>("value");
        QTest::newRow("register read") << "!R0178563412#"
                                       << "Reg" << 1 << qint32(0x12345678);
        QTest::newRow("write echo") << "!W2A00000000#"
                                    << "Reg" << 42 << qint32(0);
        QTest::newRow("register FF") << "!RFFFFFFFFFF#"
                                     << "Reg" << 255 << qint32(-1);
        QTest::newRow("logo") << "!L7F01000000#"
                              << "L" << 127 << qint32(1);
        QTest::newRow("input 18") << "!I1203000000#"
                                  << "I" << 18 << qint32(3);
        QTest::newRow("analogue 12") << "!A0C10000000#"
                                     << "A" << 12 << qint32(16);
        QTest::newRow("status") << "!S01000000#"
                                << "S" << 0 << qint32(1);
        QTest::newRow("firmware version") << "!U0401000000#"
                                          << "FW" << 0 << qint32(1);
        QTest::newRow("negative firmware") << "!U04FFFFFFFF#"
                                           << "FW" << 0 << qint32(-1);
        QTest::newRow("identity 05") << "!U0578563412#"
                                     << "U05" << 0 << qint32(0x12345678);
        QTest::newRow("debug value 05") << "!D0505000000#"
                                        << "Diag" << 0 << qint32(5);
        QTest::newRow("debug value 0E") << "!D0E07000000#"
                                        << "Diag" << 9 << qint32(7);
        QTest::newRow("diag 0A") << "!D0A09000000#"
                                 << "D10" << 0 << qint32(9);
        QTest::newRow("a2d sequence") << "!D0102000000#"
                                      << "D01" << 0 << qint32(2);
        QTest::newRow("schedule time") << "!D0203000000#"
                                       << "D02" << 0 << qint32(3);
        QTest::newRow("hw test flags") << "!D0304000000#"
                                       << "D03" << 0 << qint32(4);
    }
    void stores() {
        QFETCH(QString, reply);
        QFETCH(QString, where);
        QFETCH(int, index);
        QFETCH(qint32, value);
        DeviceState s;
        int debugRebuilds = 0;
        s.onDebugValuesChanged = [&] { ++debugRebuilds; };
        QVERIFY(DispatchReply(s, reply) != ReplyKind::Ignored);
        const auto at = static_cast<size_t>(index);
        if (where == "Reg") {
            QCOMPARE(s.RegCache[at], value);
            if (index < RegisterRecord::kSlots)
                QCOMPARE(s.RegRecord.asInt(index), value);
        } else if (where == "L") {
            QCOMPARE(s.LRegCache[at], value);
        } else if (where == "I") {
            QCOMPARE(s.IRegCache[at], value);
            QCOMPARE(s.IRegRecord[at], value);
        } else if (where == "A") {
            QCOMPARE(s.ARegCache[at], value);
        } else if (where == "S") {
            QCOMPARE(s.StatusFlags, value);
        } else if (where == "FW") {
            QCOMPARE(qint32(s.FirmwareVersion), value);
        } else if (where == "U05") {
            QCOMPARE(s.IdentU05, value);
        } else if (where == "Diag") {
            QCOMPARE(s.DiagValues[at], value);
            QCOMPARE(debugRebuilds, 1);
        } else if (where == "D10") {
            QCOMPARE(s.DiagItem10, value);
        } else if (where == "D01") {
            QCOMPARE(s.A2DChannelSeq, value);
        } else if (where == "D02") {
            QCOMPARE(s.ScheduleTime, value);
        } else if (where == "D03") {
            QCOMPARE(s.HWTestFlags, value);
        }
        if (where != "Diag")
            QCOMPARE(debugRebuilds, 0);
    }

    void ignored_data() {
        QTest::addColumn<QString>("reply");
        QTest::newRow("short register reply") << "!R01785634#";
        QTest::newRow("input 19") << "!I1300000001#";
        QTest::newRow("analogue 13") << "!A0D00000000#";
        QTest::newRow("identity 06") << "!U0601000000#";
        QTest::newRow("firmware above 16 bits") << "!U04FFFF0000#";
        QTest::newRow("diag 04") << "!D0405000000#";
        QTest::newRow("diag 00") << "!D0005000000#";
        QTest::newRow("diag 0F") << "!D0F05000000#";
        QTest::newRow("unknown kind") << "!X0100000000#";
        QTest::newRow("status too long") << "!S0100000000#";
        QTest::newRow("no bang") << "R0100000000##";
        QTest::newRow("no hash") << "!R0100000000x";
        QTest::newRow("empty") << "";
        QTest::newRow("bang hash") << "!#";
    }
    void ignored() {
        QFETCH(QString, reply);
        DeviceState s;
        bool rebuilt = false;
        s.onDebugValuesChanged = [&] { rebuilt = true; };
        QCOMPARE(DispatchReply(s, reply), ReplyKind::Ignored);
        const DeviceState blank;
        QVERIFY(s.RegCache == blank.RegCache);
        QVERIFY(s.IRegCache == blank.IRegCache);
        QVERIFY(s.ARegCache == blank.ARegCache);
        QVERIFY(s.DiagValues == blank.DiagValues);
        QCOMPARE(s.FirmwareVersion, blank.FirmwareVersion);
        QCOMPARE(s.IdentU05, blank.IdentU05);
        QCOMPARE(s.StatusFlags, blank.StatusFlags);
        QVERIFY(!rebuilt);
    }

    void identityTextIsKeptAsText() {
        DeviceState s;
        DispatchReply(s, "!U0041424344#");
        QCOMPARE(s.IdentStrings[0], QString("41424344"));
    }

    void recordMirrorsOnlyTheFirst58Registers() {
        DeviceState s;
        s.RegRecord.slot[3] = 99; // edited in the record only
        DispatchReply(s, "!R3A05000000#");
        QCOMPARE(s.RegCache[0x3A], 5);
        QCOMPARE(s.RegRecord.asInt(3), 0); // refreshed from the cache
        DispatchReply(s, "!R10FFFFFFFF#");
        QCOMPARE(s.RegRecord.asInt(0x10), -1);
    }

    void recordReadsFloatsAndBytes() {
        DeviceState s;
        DispatchReply(s, "!R100000803F#"); // 1.0f is 0x3F800000
        QCOMPARE(s.RegRecord.asFloat(0x10), 1.0f);
        DispatchReply(s, "!R2101020304#");
        QCOMPARE(int(s.RegRecord.byte(0x21, 0)), 1);
        QCOMPARE(int(s.RegRecord.byte(0x21, 3)), 4);
    }
};

QTEST_GUILESS_MAIN(TestDispatch)
#include "test_dispatch.moc"
