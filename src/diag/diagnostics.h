#pragma once
// The diagnostics view's core: the read batch, the refresh of every box from
// the device state, the two live polls (one analogue channel, the sensor
// inputs) and the raw debug value list. Everything here answers plain texts;
// the view only puts them on screen.

#include "link/link.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace gp {

// The diagnostics batch in send order: diagnostic items 01..03, the status,
// registers 01..0F, 25 and 2E, the chip identifier U05 and the SPI rate.
QStringList diagnosticsFrames();

// Running minimum and maximum of the polled analogue channel. Reset by a
// channel selection, the "Reset" button, a click on the A2D "Poll" box and
// the diagnostics read.
struct A2DRange {
    int32_t A2DMin = 4096;
    int32_t A2DMax = 0;
    void reset() { *this = A2DRange{}; }
};

// Resets the A2D range and starts the diagnostics batch. Answers the batch id.
int DiagnosticsRead(Link& link, A2DRange& range);

// What a refresh shows. A std::nullopt leaves the control as it was: the unit
// reported a code this tool has no text for.
struct DiagnosticsDisplay {
    std::optional<QString> resetCause;
    std::array<bool, 32> debugFlags{};   // CheckIOE(0..31)
    std::array<bool, 28> featureFlags{}; // CheckProfile(0..27)
    QString productName;
    QString vendorName;
    int appIndex = 0; // bits 28..31 of register 01
    QString vendorId; // low half of register 04, signed
    QString chipIdHex;
    std::optional<QString> chipName;
    QString spiRate;
    std::array<QString, 4> touchAdc; // ADC Min_X, Max_X, Min_Y, Max_Y
};

// The text for a reset cause code (bits 8..15 of the status), if known.
std::optional<QString> resetCauseText(int code);
// Characters of the name bytes up to the first zero byte, in the case stored
// (bytes are Latin-1).
QString nameFromRegisters(const DeviceState& state, int firstReg, int regCount);

// Refreshes from the device state. The chip identifier is shown as read,
// then its revision bits are cleared in the state itself, so a second
// refresh without a new U05 reply shows the cleared value.
DiagnosticsDisplay ShowDiagnostics(DeviceState& state);

// The A2D boxes: Count, V, R, Min, Max, %.
struct A2DReading {
    QString count;
    QString volts;
    QString ohms;
    QString min;
    QString max;
    QString percent;
};

// Channels offered in the channel list, index = channel number.
QStringList a2dChannelNames();
// Formats one reading and folds it into the running range. The channel input
// has a 10 kohm pull-up to the 3 V reference: full scale means an open input.
A2DReading formatA2D(int32_t raw, A2DRange& range, const QLocale& locale);
// The read frame for a channel, or nothing for a channel outside the cached
// channels 0..12 (an empty channel list).
std::optional<QString> a2dFrame(int channel);

// What a sensor input measures, for the scale it is shown on.
enum class SensorQuantity { Degrees, Humidity, Ohms, Raw };
// Sensor inputs of the "Sensors" table, top to bottom.
struct SensorRow {
    const char* caption;
    int item;
    SensorQuantity quantity;
};
const std::array<SensorRow, 8>& sensorRows();
QStringList sensorFrames();
// The eight sensor values, 3 decimals, no grouping.
QStringList sensorTexts(const DeviceState& state, const QLocale& locale);

// The live polls: what they show (the values of the previous request) and
// the batch they start. When both run on one completion their frames go in
// one batch, A2D frame first, so only one frame is ever in flight.
struct PollResult {
    std::optional<A2DReading> a2d;      // set when the A2D poll ran
    std::optional<QStringList> sensors; // set when the sensor poll ran
    int batchId = 0;                    // 0 when nothing was started
};
// channel: the list index (nullopt or out of range: the A2D poll shows and
// reads nothing). Answers what to show.
PollResult runPolls(Link& link, std::optional<int> a2dChannel, bool temps, A2DRange& range,
                    const QLocale& locale);
// The single polls, as the check boxes run them.
PollResult PollA2D(Link& link, int channel, A2DRange& range, const QLocale& locale);
PollResult PollTemps(Link& link, const QLocale& locale);

// Rows "[i]=" + value in wire order, for DiagValues 0..10.
QStringList ListDebugValues(const DeviceState& state);
// The debug items the unit keeps values in (05..09, 0B..0E), their reads,
// and the rows of those values alone, "[i]=XXXXXXXX" with i the item less 5:
// what a command prints, read in this run, never an entry nothing filled.
QList<int> debugValueItems();
QStringList debugValueFrames();
QStringList ListReadDebugValues(const DeviceState& state);

} // namespace gp
