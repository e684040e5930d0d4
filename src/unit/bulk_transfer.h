#pragma once
// Whole-register-bank transfer between the unit and the register cache.

#include "link/write_gate.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace gp {

class Link;
class Prompts;
struct DeviceState;

// Class of register `reg` (0..255) under layout code `layout` (the top byte
// of register 00): "N" for a register the device-settings write sends, "R"
// for one it never sends, the empty text for every register of a layout
// above 3 (a layout this tool does not know).
QString RegisterClass(int layout, int reg);

// The layout code: bits 24..31 of the cached register 00.
int LayoutCode(const DeviceState& state);

// Reads registers 00..FF, then identity item U05, into the caches. Answers
// the batch id.
int ReadAllRegisters(Link& link);
// Writes the known registers of 01..FF from the cache; register 00 is never
// written, nor is a register never read. Refused when none is known. The
// registers of `readFirst` are read before, when they are not known.
// A write whose reply is lost is sent again when `resendLost` (the caller
// that checks and resends itself leaves it off).
WriteStart WriteAllRegisters(Link& link, const QList<int>& readFirst = {}, bool resendLost = false);
// The registers of 01..FF a write of all registers would leave out now: those
// never read from this unit.
QList<int> unreadOfAllRegisters(const DeviceState& state);
// The device-settings registers a device-settings write would leave out now;
// register 00 alone when the layout is not known yet.
QList<int> unreadDeviceSettingsRegisters(const DeviceState& state);
// Before a write of what was read, when `unread` is not empty: says how many
// registers the write sends and which it would leave out because they were
// never read, and asks (default Yes) whether to read those first. Answers
// the registers to read before writing: `unread`, or none.
QList<int> askToReadFirst(Prompts& prompts, const QList<int>& unread, int toWrite);
// The desktop's "write all registers": asks as above, then writes.
WriteStart WriteAllRegistersAsking(Link& link, Prompts& prompts);
// Writes the known registers of class "N" for the unit's layout from the
// cache, then ":SU#". Register 00 (the layout) and `alsoNeeded` are read
// first when they are not known; `prepare` then puts the engineer's entries
// into the cache, just before the frames are composed.
WriteStart WriteDeviceSettings(Link& link, const QList<int>& alsoNeeded = {},
                               std::function<void(DeviceState&)> prepare = {});

// The registers of class "N" for the unit's layout, ascending.
QList<int> deviceSettingsRegisters(const DeviceState& state);
// Those a device-settings write sends: the known ones.
QList<int> knownDeviceSettingsRegisters(const DeviceState& state);
// The frames of each batch, in send order.
QStringList readAllFrames();
QStringList deviceSettingsFrames(const DeviceState& state);

} // namespace gp
