#pragma once
// The processors of this family of units, in one table: the identifier the
// unit reports as item U05 (revision bits 0..4 cleared), the name, the size
// of the first flash and whether the chip's boot monitor only starts after a
// power cycle. Whatever the tool knows of a processor it looks up here.

#include <QString>
#include <cstdint>
#include <optional>

namespace gp::unit {

struct Chip {
    uint32_t identifier = 0; // U05 with the revision bits 0..4 cleared
    const char* name = "";
    // The SAM3N2B leaves its application for the boot monitor only through
    // a power cycle; the engineer is asked for one while the tool probes.
    bool powerCycleFirst = false;
};

// The identifier without its revision bits 0..4.
constexpr uint32_t withoutRevision(uint32_t identifier) {
    return identifier & ~0x1Fu;
}

// The chip of an identifier (revision bits cleared or not), if known.
std::optional<Chip> chipOf(uint32_t identifier);
// Its name, if known.
std::optional<QString> chipNameOf(uint32_t identifier);
// Flash size of a SAM3/SAM4 processor from its chip id (the NVPSIZ field,
// bits 8..11); 128 KiB, the flash of this family's units, when the id does
// not tell.
int flashBytesOfChip(int32_t identifier);
// True when the chip must be power-cycled before its boot monitor answers.
bool needsPowerCycleForBootMonitor(int32_t identifier);

} // namespace gp::unit
