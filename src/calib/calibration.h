#pragma once
// The calibration view's core: the read batch, the refresh of the view from
// the device state (output calibration coefficients, sensor trims, filter
// times, screen refresh rate), the output calibration command and the two
// write batches. The unit computes and stores its coefficients itself; the
// tool only shows them and does no arithmetic on them.

#include "link/link.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace gp {

// Register 01 bits 14..17: analogue outputs AO1..AO4 fitted.
inline constexpr uint32_t kAnalogueOutputsMask = 0x3C000;

// The calibration batch: status, register 01, coefficients 10..17, trims and
// filters 1A..20, the screen rate item 0A.
QStringList calibrationFrames();
int CalibrationRead(Link& link);

// ":SC#": the unit calibrates its outputs and stores the coefficients. No
// answer is examined; a read shows the result.
void CalibrateOutputs(Link& link);

// A single-precision value as text: at most 7 significant digits, no
// trailing zeros, the locale's decimal separator, no grouping; exponent form
// ("1.234568E+07") where fixed notation would not do. NaN and infinities
// read "NaN", "Infinity" and "-Infinity".
QString singleToText(float value, const QLocale& locale);

// Filter times in seconds and their list index: 0 "None", 10, 20, 30, 60,
// 120, 240 seconds at 1..6. Unknown times show as "None"; an unknown index
// (no selection included) means no filter.
int16_t FilterSecondsToIndex(int16_t seconds);
int16_t FilterIndexToSeconds(int16_t index);
QStringList filterItems();
QStringList screenRateItems();

// Sensor rows in table order, with the register and byte of each filter box
// Combofilter(i) and the register of each trim box TextSensorTrim(i).
struct FilterSlot {
    int reg;
    int byte;
};
const std::array<FilterSlot, 7>& filterSlots();
inline constexpr int kFirstTrimRegister = 0x1A;

struct CalibrationDisplay {
    QStringList coefficientRows; // name TAB value, AO1 intercept first
    bool calibrateEnabled = false;
    std::array<QString, 5> trims;     // TextSensorTrim(0..4)
    std::array<int, 7> filterIndex{}; // Combofilter(0..6)
    // The filter bytes as the unit holds them: a byte no list entry stands
    // for (15) shows as "None" but is still the unit's value.
    std::array<int, 7> filterBytes{};
    // ComboScreenRate: 0..2 selects, -1 clears, nothing leaves the list.
    std::optional<int> screenRate;
};

// Refreshes RegRecord from RegCache first, then builds the view from it.
CalibrationDisplay ShowCalibration(DeviceState& state, const QLocale& locale);

// What the "Sensor Characteristics" frame holds when "Set " is clicked.
// A box that still holds its placeholder (nothing read into it, nothing
// typed or chosen) is not taken: its register keeps the cached value.
struct SensorCharacteristics {
    std::array<QString, 5> trims;
    std::array<int, 7> filterIndex{};
    std::array<bool, 5> trimTaken{true, true, true, true, true};
    std::array<bool, 7> filterTaken{true, true, true, true, true, true, true};
};

// A trim text as a single: a number in the locale (or with "." as decimal
// point), blanks around it allowed, finite and within single range.
std::optional<float> trimValue(const QString& text, const QLocale& locale);

// Stores the trims that are numbers and every filter time into RegRecord,
// then composes the whole batch: writes of 1A..20, ":SF#", ":SR#". A trim
// that is not a number keeps its register's current value, and so does one
// whose text is still what the register's value shows as (its exact bits).
QStringList sensorCharacteristicsFrames(DeviceState& state, const SensorCharacteristics& input,
                                        const QLocale& locale);
// The registers whose cached value the batch carries (a trim not taken or
// not a number, a filter not taken, the fourth byte of register 20): these
// must be known before it is composed.
QList<int> sensorCharacteristicsNeeds(const SensorCharacteristics& input, const QLocale& locale);
// Reads the needed registers first when they are not known.
WriteStart WriteSensorCharacteristics(Link& link, const SensorCharacteristics& input,
                                      const QLocale& locale);

// The screen rate list index as the write batch: ":D0A" + 0, 1 or 2 (any
// other index writes "Fast"), then ":SR#".
QStringList screenRateFrames(int listIndex);
int WriteScreenRate(Link& link, int listIndex);

} // namespace gp
