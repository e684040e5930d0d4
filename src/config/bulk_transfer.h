#pragma once
// Whole-register-bank transfer between the unit and the register cache.

#include <QString>

namespace gp {

class Link;

// Storage class of register `reg` (0..255) under layout code `layout`:
// "N" nonvolatile, "V" volatile, "R" read-only, "U" unused.
QString RegisterClass(int layout, int reg);

// Reads registers 00..FF, then U05, into the register cache.
void ReadAllRegisters(Link& link);
// Writes every writable register from the cache, then burns to flash.
void WriteAllRegisters(Link& link);
// Writes the user-settable device registers shown on the configuration views.
void WriteDeviceSettings(Link& link);

} // namespace gp
