#pragma once
// What the unit's identity registers mean: feature bits and application id
// (register 01), the product name (0D..0F), the serial number (03) and the
// firmware version's text. Pure decoders of the register cache; nothing here
// reads or writes the unit.

#include "link/device_state.h"

#include <QLocale>
#include <QString>
#include <QStringList>

namespace gp {

// The firmware version (version x 100) with two decimals and the locale's
// decimal separator, no grouping: 105 gives "1.05", 7 "0.07".
QString formatFirmwareVersion(int versionTimes100, const QLocale& locale);
// The product name of registers 0D..0F: bytes in memory order up to the
// first zero byte, upper-cased.
QString productNameOf(const DeviceState& state);
// The serial number of register 03: its letter (the top byte), "-" and the
// number of the lower three bytes; the number alone when the letter byte is
// zero (it would put a NUL into the text); empty when the register is 0.
QString serialNumberOf(const DeviceState& state);

// The application id: the high nibble of register 01's top byte, 0..15.
int appIdOf(const DeviceState& state);

// Feature bits of register 01 the views test.
namespace feature {
inline constexpr uint32_t Modbus = 1u << 1;
inline constexpr uint32_t Bacnet = 1u << 2;
inline constexpr uint32_t Co2 = 1u << 3;
} // namespace feature

bool hasFeature(const DeviceState& state, uint32_t bit);
// Names of the feature bits 0..27 that are set in register 01, lowest first.
QStringList featureNames(int32_t reg01);

} // namespace gp
