// The calibration view's core: coefficient texts, filter times, and the two
// write batches as they reach the unit.
#include "calib/calibration.h"
#include "support/sim_rig.h"

#include <QtTest>
#include <bit>
#include <cmath>
#include <limits>

using namespace gp;

namespace {
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);
} // namespace

class TestCalibration : public QObject {
    Q_OBJECT
  private slots:
    void readBatch() {
        QCOMPARE(calibrationFrames(),
                 (QStringList{":S#", ":R01#", ":R10#", ":R11#", ":R12#", ":R13#", ":R14#", ":R15#",
                              ":R16#", ":R17#", ":R1A#", ":R1B#", ":R1C#", ":R1D#", ":R1E#",
                              ":R1F#", ":R20#", ":D0A#"}));
    }

    void singleToText_data() {
        QTest::addColumn<uint32_t>("bits");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("german");
        auto bits = [](float f) { return std::bit_cast<uint32_t>(f); };
        QTest::newRow("all zero bits") << 0u << "0"
                                       << "0";
        QTest::newRow("negative zero") << 0x80000000u << "0"
                                       << "0";
        QTest::newRow("one") << bits(1.0f) << "1"
                             << "1";
        QTest::newRow("minus a half") << bits(-0.5f) << "-0.5"
                                      << "-0,5";
        QTest::newRow("ten") << bits(10.0f) << "10"
                             << "10";
        QTest::newRow("gain 409.5") << bits(409.5f) << "409.5"
                                    << "409,5";
        QTest::newRow("a tenth, no float noise") << bits(0.1f) << "0.1"
                                                 << "0,1";
        QTest::newRow("seven digits, no grouping") << bits(1234567.0f) << "1234567"
                                                   << "1234567";
        QTest::newRow("large") << bits(12345678.0f) << "1.234568E+07"
                               << "1,234568E+07";
        QTest::newRow("tiny") << bits(0.00001f) << "1E-05"
                              << "1E-05";
        QTest::newRow("small fixed") << bits(0.0001f) << "0.0001"
                                     << "0,0001";
        QTest::newRow("single max") << bits(std::numeric_limits<float>::max()) << "3.402823E+38"
                                    << "3,402823E+38";
        QTest::newRow("quiet NaN") << 0x7FC00000u << "NaN"
                                   << "NaN";
        QTest::newRow("erased flash NaN") << 0xFFFFFFFFu << "NaN"
                                          << "NaN";
        QTest::newRow("plus infinity") << 0x7F800000u << "Infinity"
                                       << "Infinity";
        QTest::newRow("minus infinity") << 0xFF800000u << "-Infinity"
                                        << "-Infinity";
    }
    void singleToText() {
        QFETCH(uint32_t, bits);
        QFETCH(QString, english);
        QFETCH(QString, german);
        const float v = std::bit_cast<float>(bits);
        QCOMPARE(gp::singleToText(v, kEnglish), english);
        QCOMPARE(gp::singleToText(v, kGerman), german);
    }

    void filterConversions_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("back"); // seconds written back for that index
        QTest::newRow("none") << 0 << 0 << 0;
        QTest::newRow("10s") << 10 << 1 << 10;
        QTest::newRow("240s") << 240 << 6 << 240;
        QTest::newRow("unlisted 15s shows None") << 15 << 0 << 0;
        QTest::newRow("255 shows None") << 255 << 0 << 0;
    }
    void filterConversions() {
        QFETCH(int, seconds);
        QFETCH(int, index);
        QFETCH(int, back);
        QCOMPARE(int(FilterSecondsToIndex(int16_t(seconds))), index);
        QCOMPARE(int(FilterIndexToSeconds(int16_t(index))), back);
    }

    void filterIndexWithoutSelectionIsNoFilter() {
        QCOMPARE(int(FilterIndexToSeconds(-1)), 0);
        QCOMPARE(int(FilterIndexToSeconds(7)), 0);
    }

    void showCalibration() {
        DeviceState s;
        s.RegCache[0x10] = std::bit_cast<int32_t>(-0.5f);
        s.RegCache[0x11] = std::bit_cast<int32_t>(409.5f);
        s.RegCache[0x1A] = std::bit_cast<int32_t>(0.25f);
        s.RegCache[0x1F] = int32_t(30u | (10u << 8) | (20u << 16) | (15u << 24));
        s.RegCache[0x20] = int32_t(240u | (60u << 8) | (120u << 16) | (0xAAu << 24));
        s.DiagItem10 = 2;
        const auto d = ShowCalibration(s, kEnglish);
        QCOMPARE(d.coefficientRows.size(), 8);
        QCOMPARE(d.coefficientRows.at(0), QString("AO1_interceptY\t-0.5"));
        QCOMPARE(d.coefficientRows.at(1), QString("AO1_gain\t409.5"));
        QCOMPARE(d.coefficientRows.at(7), QString("AO4_gain\t0"));
        QVERIFY(!d.calibrateEnabled);
        QCOMPARE(d.trims[0], QString("0.25"));
        // Temperature 10s, humidity 20s, CO2 30s, lux unlisted, then 240, 60, 120.
        QCOMPARE(d.filterIndex, (std::array<int, 7>{1, 2, 3, 0, 6, 4, 5}));
        // The unlisted lux byte is shown as "None" but kept as read.
        QCOMPARE(d.filterBytes, (std::array<int, 7>{10, 20, 30, 15, 240, 60, 120}));
        QCOMPARE(d.screenRate.value_or(-9), 2);
    }

    void calibrateEnabledByAnyOutputBit_data() {
        QTest::addColumn<int32_t>("reg01");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no outputs") << int32_t(0x00003FFF) << false;
        QTest::newRow("AO1") << int32_t(1 << 14) << true;
        QTest::newRow("AO4 only") << int32_t(1 << 17) << true;
        QTest::newRow("bit 18 is not an output") << int32_t(1 << 18) << false;
    }
    void calibrateEnabledByAnyOutputBit() {
        QFETCH(int32_t, reg01);
        QFETCH(bool, enabled);
        DeviceState s;
        s.RegCache[0x01] = reg01;
        QCOMPARE(ShowCalibration(s, kEnglish).calibrateEnabled, enabled);
    }

    void screenRateDisplay_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("index"); // -9: list left as it was
        QTest::newRow("fast") << 0 << 0;
        QTest::newRow("slow") << 2 << 2;
        QTest::newRow("minus one clears") << -1 << -1;
        QTest::newRow("unknown leaves") << 3 << -9;
    }
    void screenRateDisplay() {
        QFETCH(int, item);
        QFETCH(int, index);
        DeviceState s;
        s.DiagItem10 = item;
        QCOMPARE(ShowCalibration(s, kEnglish).screenRate.value_or(-9), index);
    }

    void screenRateFrames_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("frame");
        QTest::newRow("fast") << 0 << ":D0A00000000#";
        QTest::newRow("medium") << 1 << ":D0A01000000#";
        QTest::newRow("slow") << 2 << ":D0A02000000#";
        QTest::newRow("no selection writes fast") << -1 << ":D0A00000000#";
    }
    void screenRateFrames() {
        QFETCH(int, index);
        QFETCH(QString, frame);
        QCOMPARE(gp::screenRateFrames(index), (QStringList{frame, ":SR#"}));
    }

    void trimValue_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<float>("value");
        QTest::newRow("locale comma") << "1,5" << true << 1.5f;
        QTest::newRow("decimal point also") << "-0.25" << true << -0.25f;
        QTest::newRow("blanks") << " 2 " << true << 2.0f;
        QTest::newRow("exponent") << "1E3" << true << 1000.0f;
        QTest::newRow("abc") << "abc" << false << 0.0f;
        QTest::newRow("empty") << "" << false << 0.0f;
        QTest::newRow("beyond single") << "1e39" << false << 0.0f;
        QTest::newRow("infinity text") << "inf" << false << 0.0f;
    }
    void trimValue() {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(float, value);
        const auto v = gp::trimValue(text, kGerman);
        QCOMPARE(v.has_value(), isNumber);
        if (isNumber)
            QCOMPARE(*v, value);
    }

    // "abc" in one trim box keeps that register; the others are written
    // from their boxes; the filters go into their bytes and byte 3 of
    // register 20 rides along unchanged.
    void sensorWriteReachesTheUnit() {
        test::SimRig rig;
        QCOMPARE((CalibrationRead(rig.link), rig.runBatch()), -1);
        const int32_t cachedTrimB = std::bit_cast<int32_t>(0.75f);
        rig.link.state.RegCache[0x1D] = cachedTrimB;
        rig.link.state.RegCache[0x20] = int32_t(0x5A000000);
        SensorCharacteristics in;
        in.trims = {"0.5", "-1.25", "3", "abc", "1e2"};
        in.filterIndex = {1, 2, 3, 4, 5, 6, -1};
        const QStringList frames = sensorCharacteristicsFrames(rig.link.state, in, kEnglish);
        QCOMPARE(frames,
                 (QStringList{":W1A0000003F#", ":W1B0000A0BF#", ":W1C00004040#", ":W1D0000403F#",
                              ":W1E0000C842#", ":W1F1E0A143C#", ":W2078F0005A#", ":SF#", ":SR#"}));
        rig.unit().setReg(0x20, int32_t(0x5A000000));
        WriteSensorCharacteristics(rig.link, in, kEnglish);
        rig.runBatch();
        QCOMPARE(rig.unit().reg(0x1D), cachedTrimB);
        QCOMPARE(rig.unit().nonvolatileReg(0x1B), std::bit_cast<int32_t>(-1.25f));
        QCOMPARE(rig.unit().nonvolatileReg(0x20), int32_t(0x5A00F078));
    }

    // A trim box the engineer did not touch goes back bit for bit; seven
    // digits of text would move many values by one step.
    void untouchedTrimWritesBackTheExactValue_data() {
        QTest::addColumn<int>("reg");
        QTest::addColumn<uint32_t>("bits");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed"); // empty: the box as shown
        QTest::addColumn<QString>("frame");
        QTest::newRow("pi in trim B as read")
            << 0x1D << 0x40490FDBu << "en_US" << QString() << ":W1DDB0F4940#";
        QTest::newRow("0.1 with a German comma as read")
            << 0x1A << 0x3DCCCCCDu << "de_DE" << QString() << ":W1ACDCCCC3D#";
        QTest::newRow("exponent form as read")
            << 0x1E << 0x4B3C614Fu << "en_US" << QString() << ":W1E4F613C4B#";
        QTest::newRow("same text with blanks around it is untouched")
            << 0x1D << 0x40490FDBu << "en_US"
            << " 3.141593 "
            << ":W1DDB0F4940#";
        QTest::newRow("a changed text is written as typed") << 0x1D << 0x40490FDBu << "en_US"
                                                            << "3.141592"
                                                            << ":W1DD80F4940#";
    }

    void untouchedTrimWritesBackTheExactValue() {
        QFETCH(int, reg);
        QFETCH(uint32_t, bits);
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        const QLocale l(locale);
        DeviceState s;
        s.RegCache[static_cast<size_t>(reg)] = static_cast<int32_t>(bits);
        s.RegCache[0x1F] = int32_t(30u | (10u << 8) | (20u << 16) | (15u << 24));
        const auto shown = ShowCalibration(s, l);
        SensorCharacteristics in;
        in.trims = shown.trims;
        if (!typed.isEmpty())
            in.trims[static_cast<size_t>(reg - 0x1A)] = typed;
        in.filterIndex = shown.filterIndex;
        const QStringList frames = sensorCharacteristicsFrames(s, in, l);
        QTEST(frames.at(reg - 0x1A), "frame");
        QCOMPARE(frames.at(5), QString(":W1F1E0A1400#")); // unlisted 15s goes back as 0
    }

    void calibrateCommandIsOneFrameOutsideTheQueue() {
        test::SimRig rig;
        rig.link.poll.CmdQueuePos = -1;
        CalibrateOutputs(rig.link);
        QCOMPARE(rig.link.poll.CmdQueuePos, -1);
        rig.runTicks(10);
        QCOMPARE(rig.unit().frameHistory().last(), QString(":SC#"));
        QVERIFY(rig.unit().reg(0x11) != 0);
    }
};

QTEST_GUILESS_MAIN(TestCalibration)
#include "test_calibration.moc"
