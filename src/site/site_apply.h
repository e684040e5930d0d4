#pragma once
// What a site plan's row means for one unit: the template's settings with
// the row's bus settings and device id in place, the registers a load would
// write, and how the unit differs from them.

#include "site/site_plan.h"
#include "site/site_record.h"
#include "unit/cfg_file.h"

#include <QList>

namespace gp {
struct DeviceState;
}

namespace gp::site {

// Puts the row's address, baud rate, parity and stop bits into register 21
// (the template's value when it gives one, else unitComms) and its device id
// into register 24; what the row leaves empty stays the template's.
void putRowSettings(CfgContent& content, const PlanRow& row, int32_t unitComms);
// The registers the row sets beside the template's device settings: the
// comms register when it gives a bus setting, the device id when it gives
// one.
QList<int> rowRegisters(const PlanRow& row);

// The registers a load of content (and alsoWrite) would write into the unit,
// with the values meant, that the unit (as read into state) holds otherwise
// or was not read for.
QList<int> registersToChange(const DeviceState& state, const CfgContent& content,
                             const QList<int>& alsoWrite);

// The registers the state holds, read or written.
Registers registersOf(const DeviceState& state);

// The registers whose value differs between two sets, unread ones included.
QList<int> changedRegisters(const Registers& before, const Registers& after);

// The settings (register 01 and the device settings of the unit's layout)
// that hold another value now than as left; registers unread in either are
// left out: live readings change by themselves and count for nothing.
QList<int> settingsChanged(const Registers& left, const Registers& now);
// The last visit before the one with this key that ended (done, already as
// planned or failed), from a unit's visits oldest first.
std::optional<Visit> previousVisit(const QList<Visit>& visits, const QString& key);
// "changed since its as-left of 2026-12-08 10:30 UTC: 25, 28"; empty when
// nothing changed or there is no earlier visit.
QString changedSinceText(const std::optional<Visit>& previous, const Registers& now);

// The SHA-256 of the .cfg lines of the unit holding regs (and the status of
// state), as the commissioning report gives it; empty unless every register
// is known.
QString registersSha256(const DeviceState& state, const Registers& regs);

// Who is at the keyboard when --engineer is not given: the login name.
QString engineerName();

// SHA-256 of a file's bytes in hex; empty when it cannot be read.
QString fileSha256(const QString& path);

} // namespace gp::site
