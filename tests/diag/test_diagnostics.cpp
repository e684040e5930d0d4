// The diagnostics refresh and the live polls: what the boxes show for the
// unit's reset cause, chip, names and analogue readings, and which frames the
// polls send.
#include "diag/diagnostics.h"
#include "link/codec.h"
#include "support/sim_rig.h"

#include <QtTest>
#include <bit>

using namespace gp;

namespace {
// Puts text into consecutive registers, four Latin-1 bytes each, in memory order.
void putName(DeviceState& s, int firstReg, const QByteArray& bytes) {
    for (int i = 0; i < bytes.size(); ++i) {
        auto& r = s.RegCache[static_cast<size_t>(firstReg + i / 4)];
        const auto shift = 8 * (i % 4);
        r = static_cast<int32_t>((static_cast<uint32_t>(r) & ~(0xFFu << shift)) |
                                 (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << shift));
    }
}
} // namespace

class TestDiagnostics : public QObject {
    Q_OBJECT
  private slots:
    void batchFramesInOrder() {
        const QStringList f = diagnosticsFrames();
        QCOMPARE(f.size(), 23);
        QCOMPARE(f.mid(0, 5), (QStringList{":D01#", ":D02#", ":D03#", ":S#", ":R01#"}));
        QCOMPARE(f.mid(18), (QStringList{":R0F#", ":R25#", ":R2E#", ":U05#", ":D0A#"}));
    }

    void resetCause_data() {
        QTest::addColumn<int32_t>("status");
        QTest::addColumn<QString>("shown"); // empty: label left as it was
        QTest::newRow("power-up") << int32_t(0x00000000) << "Power-up";
        QTest::newRow("backup") << int32_t(0x00000100) << "Return from Backup mode";
        QTest::newRow("watchdog, other bits set") << int32_t(0xFFFF02FF) << "Watchdog fault";
        QTest::newRow("software") << int32_t(0x00000300) << "Software Reset";
        QTest::newRow("nrst") << int32_t(0x00000400) << "User Reset (NRST taken low)";
        QTest::newRow("unknown code 5") << int32_t(0x00000500) << "";
        QTest::newRow("unknown code 0xFF") << int32_t(0x0000FF00) << "";
    }
    void resetCause() {
        QFETCH(int32_t, status);
        QFETCH(QString, shown);
        DeviceState s;
        s.StatusFlags = status;
        const auto d = ShowDiagnostics(s);
        QCOMPARE(d.resetCause.value_or(QString()), shown);
    }

    void chipIdAndSecondRefresh_data() {
        QTest::addColumn<int32_t>("u05");
        QTest::addColumn<QString>("firstHex");
        QTest::addColumn<QString>("secondHex");
        QTest::addColumn<QString>("name"); // empty: box left as it was
        QTest::newRow("SAM3N2B rev 1") << int32_t(0x29490761) << "29490761"
                                       << "29490760"
                                       << "SAM3N2B";
        QTest::newRow("SAM4S2B rev 31") << int32_t(0x289B07FF) << "289B07FF"
                                        << "289B07E0"
                                        << "SAM4S2B";
        QTest::newRow("unknown part") << int32_t(0x12345678) << "12345678"
                                      << "12345660"
                                      << "";
        QTest::newRow("high bit set") << int32_t(0x80000000) << "80000000"
                                      << "80000000"
                                      << "";
    }
    void chipIdAndSecondRefresh() {
        QFETCH(int32_t, u05);
        QFETCH(QString, firstHex);
        QFETCH(QString, secondHex);
        QFETCH(QString, name);
        DeviceState s;
        s.IdentU05 = u05;
        const auto first = ShowDiagnostics(s);
        QCOMPARE(first.chipIdHex, firstHex);
        QCOMPARE(first.chipName.value_or(QString()), name);
        const auto second = ShowDiagnostics(s);
        QCOMPARE(second.chipIdHex, secondHex);
        QCOMPARE(second.chipName.value_or(QString()), name);
    }

    void productAndVendorNames_data() {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("shown");
        QTest::newRow("full twelve") << QByteArray("RoomUnit-T12") << "RoomUnit-T12";
        QTest::newRow("case kept") << QByteArray("rU7\0\0\0\0\0\0\0\0\0", 12) << "rU7";
        QTest::newRow("zero in the middle") << QByteArray("Ab\0cdefghijk", 12) << "Ab";
        QTest::newRow("empty") << QByteArray(12, '\0') << "";
        QTest::newRow("latin-1") << QByteArray("K\xE4lte\0", 6) << QString::fromUtf8("Kälte");
    }
    void productAndVendorNames() {
        QFETCH(QByteArray, product);
        QFETCH(QString, shown);
        DeviceState s;
        putName(s, 0x0D, product);
        // A vendor name right before does not run into the product name.
        putName(s, 0x05, QByteArray(32, 'V'));
        const auto d = ShowDiagnostics(s);
        QCOMPARE(d.productName, shown);
        QCOMPARE(d.vendorName, QString(32, 'V'));
    }

    void flagsAndNumbers() {
        DeviceState s;
        s.HWTestFlags = int32_t(0x80000001);
        s.RegCache[0x01] = int32_t(0x3800000A); // app 3, bits 1 and 3, bit 27
        s.RegCache[0x04] = int32_t(0x0001FFFE); // low half -2
        s.setRegister(0x18, int32_t((3911u << 16) | 182u), ValueSource::Unit);
        s.DiagItem10 = -1;
        // The touch ADC of a register never read shows empty, never 0.
        QCOMPARE(ShowDiagnostics(s).touchAdc, (std::array<QString, 4>{"182", "3911", "", ""}));
        s.setRegister(0x19, int32_t((0xFFFFu << 16) | 0x8000u), ValueSource::Unit);
        const auto d = ShowDiagnostics(s);
        QVERIFY(d.debugFlags[0] && d.debugFlags[31] && !d.debugFlags[1]);
        QVERIFY(d.featureFlags[1] && d.featureFlags[3] && d.featureFlags[27] && !d.featureFlags[0]);
        QCOMPARE(d.appIndex, 3);
        QCOMPARE(d.vendorId, QString("-2"));
        QCOMPARE(d.spiRate, QString("-1"));
        QCOMPARE(d.touchAdc, (std::array<QString, 4>{"182", "3911", "-32768", "-1"}));
    }

    void a2dReading_data() {
        QTest::addColumn<int>("raw");
        QTest::addColumn<QString>("volts");
        QTest::addColumn<QString>("ohms");
        QTest::addColumn<QString>("percent");
        const QLocale en(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("full scale is open") << 4095 << "3.0000 V"
                                            << "Open"
                                            << "100.0";
        QTest::newRow("zero is short") << 0 << "0.0000 V"
                                       << "Short"
                                       << "0.0";
        QTest::newRow("mid scale") << 2047 << "1.4996 V" << en.toString(9995) << "50.0";
        QTest::newRow("one count") << 1 << "0.0007 V"
                                   << "2"
                                   << "0.0";
    }
    void a2dReading() {
        QFETCH(int, raw);
        QFETCH(QString, volts);
        QFETCH(QString, ohms);
        QFETCH(QString, percent);
        A2DRange range;
        const auto r = formatA2D(raw, range, QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(r.count, QString::number(raw));
        QCOMPARE(r.volts, volts);
        QCOMPARE(r.ohms, ohms);
        QCOMPARE(r.percent, percent);
        QCOMPARE(r.min, QString::number(raw));
        QCOMPARE(r.max, QString::number(raw));
    }

    void a2dUsesLocaleSeparators() {
        A2DRange range;
        const QLocale de(QLocale::German, QLocale::Germany);
        const auto r = formatA2D(2047, range, de);
        QCOMPARE(r.volts, QString("1,4996 V"));
        QCOMPARE(r.ohms, QString("9.995"));
        QCOMPARE(r.percent, QString("50,0"));
    }

    void a2dRangeFollowsReadingsUntilReset() {
        A2DRange range;
        const QLocale c = QLocale::c();
        formatA2D(2000, range, c);
        formatA2D(1500, range, c);
        const auto r = formatA2D(1800, range, c);
        QCOMPARE(r.min, QString("1500"));
        QCOMPARE(r.max, QString("2000"));
        range.reset();
        QCOMPARE(range.A2DMin, 4096);
        QCOMPARE(range.A2DMax, 0);
    }

    // Whatever the channel list holds, the poll never reads past the
    // thirteen cached channels, and sends nothing for such a channel.
    void a2dPollStaysInsideTheCache_data() {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("frame"); // empty: nothing sent
        QTest::newRow("first") << 0 << ":A00#";
        QTest::newRow("pressure") << 10 << ":A0A#";
        QTest::newRow("last cached") << 12 << ":A0C#";
        QTest::newRow("no selection") << -1 << "";
        QTest::newRow("past the cache") << 13 << "";
        QTest::newRow("far past") << 100000 << "";
    }
    void a2dPollStaysInsideTheCache() {
        QFETCH(int, channel);
        QFETCH(QString, frame);
        test::SimRig rig;
        A2DRange range;
        const auto before = rig.unit().framesReceived();
        const auto r = PollA2D(rig.link, channel, range, QLocale::c());
        rig.runBatch();
        QCOMPARE(r.a2d.has_value(), !frame.isEmpty());
        QCOMPARE(r.batchId != 0, !frame.isEmpty());
        if (!frame.isEmpty())
            QCOMPARE(rig.unit().frameHistory().last(), frame);
        else
            QCOMPARE(rig.unit().framesReceived(), before);
    }

    // A poll shows what the previous request brought and asks for new values.
    void pollsShowPreviousValuesThenRequest() {
        test::SimRig rig;
        A2DRange range;
        const QLocale c = QLocale::c();
        auto first = runPolls(rig.link, 0, true, range, c);
        QCOMPARE(first.a2d->count, QString("0"));
        QCOMPARE(first.sensors->first(), QString("0.000"));
        QCOMPARE(rig.runBatch(), -1);
        // One batch held both: the A2D frame first, then the eight inputs.
        const QStringList sent =
            rig.unit().frameHistory().mid(rig.unit().frameHistory().size() - 9);
        QCOMPARE(sent, QStringList{":A00#"} + sensorFrames());
        QCOMPARE(sensorFrames(), (QStringList{":I04#", ":I02#", ":I05#", ":I06#", ":I07#", ":I03#",
                                              ":I0D#", ":I10#"}));
        auto second = runPolls(rig.link, 0, true, range, c);
        QVERIFY(second.a2d->count.toInt() > 2000); // the NTC channel near mid scale
        QVERIFY(second.sensors->at(0).toDouble() > 15.0);
        QCOMPARE(second.sensors->size(), 8);
    }

    void sensorTextsHaveThreeDecimalsNoGrouping() {
        DeviceState s;
        s.IRegRecord[0x06] = std::bit_cast<int32_t>(10850.25f);
        s.IRegRecord[0x04] = std::bit_cast<int32_t>(-1.5f);
        const auto de = sensorTexts(s, QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(de.at(0), QString("-1,500"));
        QCOMPARE(de.at(3), QString("10850,250"));
    }

    void debugValueRowsInWireOrder() {
        DeviceState s;
        s.DiagValues[3] = 10;
        s.DiagValues[0] = int32_t(0x12345678);
        const QStringList rows = ListDebugValues(s);
        QCOMPARE(rows.size(), 11);
        QCOMPARE(rows.at(0), QString("[0]=78563412"));
        QCOMPARE(rows.at(3), QString("[3]=0A000000"));
        QCOMPARE(rows.at(10), QString("[10]=00000000"));
    }

    void readAgainstSimulatedUnit() {
        test::SimRig rig;
        A2DRange range{100, 200};
        DiagnosticsRead(rig.link, range);
        QCOMPARE(range.A2DMin, 4096);
        QCOMPARE(rig.runBatch(), -1);
        QCOMPARE(rig.link.poll.stats().answered, 23);
        const auto d = ShowDiagnostics(rig.link.state);
        QVERIFY(d.chipName.has_value());
        QVERIFY(d.resetCause.has_value());
        QVERIFY(!d.productName.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
