#pragma once
// What product the simulated unit is: the values its factory put into the
// identity registers and identity items. Every field has a plausible
// default, so SimProfile{} is a working MODBUS unit with a CO2 sensor.

#include "platform/serial_port.h"

#include <QByteArray>
#include <QList>
#include <array>
#include <cstdint>

namespace gp::sim {

enum class SimChip { SAM3N2B, SAM4S2B };

// The processor's chip identifier with the revision in bits 0..4, as the
// unit reports it in identity item 05.
int32_t chipIdentifier(SimChip chip, int revision);

// What the simulated processor is made of. The simulator keeps this table
// of its own instead of sharing the tool's: it restates the hardware, so a
// wrong belief in the tool shows up against it.
struct SimChipFacts {
    uint32_t chipId; // CHIPID_CIDR, revision 0
    uint32_t cpuId;  // the Cortex-M CPUID
    int pageSize;    // flash page, bytes
    int pages;       // flash pages
    int lockRegions; // lock bits
    int sramBytes;
};
const SimChipFacts& factsOf(SimChip chip);

// Feature bits of register 01.
namespace feature {
constexpr uint32_t Modbus = 1u << 1;
constexpr uint32_t Bacnet = 1u << 2;
constexpr uint32_t Co2 = 1u << 3;
constexpr uint32_t Buzzer = 1u << 4;
constexpr uint32_t Humidity = 1u << 5;
constexpr uint32_t AO1 = 1u << 14;
constexpr uint32_t AO2 = 1u << 15;
constexpr uint32_t AO3 = 1u << 16;
constexpr uint32_t AO4 = 1u << 17;
} // namespace feature

struct SimProfile {
    // Register 01: feature bits 0..27 and the application id in bits 28..31.
    uint32_t featureFlags = feature::Modbus | feature::Co2 | feature::Buzzer | feature::Humidity |
                            feature::AO1 | feature::AO2;
    int appId = 1;
    // Top byte of register 00: which register layout the firmware has.
    int layoutCode = 0;
    // Register 04 (low 16 bits), registers 05..0C and 0D..0F. Names longer
    // than 31 / 11 bytes are cut; the last byte is always a zero.
    int vendorId = 1077;
    QByteArray vendorName = "Quorvel Controls";
    QByteArray productName = "QRU-420";
    // Register 03: a letter in bits 24..31, a number in bits 0..23; 0 means
    // the unit has no serial number.
    int32_t serialNumber = (int32_t('Q') << 24) | 48225;
    // Register 02: bytes 0, 1, 2 shown as "D0/D1/D2" (day, month, year).
    std::array<uint8_t, 3> dateCode{14, 3, 24};
    // Register 21: bus address, baud index, parity index, stop-bit index.
    int32_t comms = 0x00000001;
    // Identity item 04: version x 100 (221 is 2.21).
    int firmwareVersion = 221;
    SimChip chip = SimChip::SAM3N2B;
    int chipRevision = 1;
    // The processor's 128-bit unique identifier, shown as four groups of
    // eight hex digits (identity items 00..03).
    std::array<uint32_t, 4> uniqueId{0x51525531u, 0x0A1B2C3Du, 0x00420017u, 0x9F3E61C4u};
    // After ":SR#" the unit starts up again and ignores the line meanwhile.
    double resetSilenceMs = 1500.0;
    // Reset cause reported after power-up: 0 power-up, 2 watchdog, 3
    // software reset, 4 reset pin.
    int initialResetCause = 0;
    // The system actions other than ":SR#", ":SZ#" and ":SAMBA#" are
    // acknowledged with the status reply, so a batch that ends with one of
    // them completes; false leaves them unanswered.
    bool acknowledgeActions = true;
    // Registers whose writes the unit echoes but does not keep (a firmware
    // that refuses a value without saying so): a read-back shows the old one.
    QList<int> stuckRegisters;
    // The firmware's line; a port set otherwise only produces garbage.
    LineSettings line{};
};

// The register bank a unit of this profile leaves the factory with.
std::array<int32_t, 256> factoryRegisters(const SimProfile& profile);

// The logo bank a unit leaves the factory with (128 words).
std::array<int32_t, 128> factoryLogo();

} // namespace gp::sim
