#include "sim/sim_profile.h"

#include <bit>

namespace gp::sim {

namespace {

int32_t floatBits(float f) {
    return std::bit_cast<int32_t>(f);
}

// Text bytes packed four to a register, the first byte least significant;
// `size` bytes in all, the last always zero.
void packText(std::array<int32_t, 256>& regs, int firstReg, int size, const QByteArray& text) {
    for (int i = 0; i < size - 1 && i < text.size(); ++i) {
        const int reg = firstReg + i / 4;
        const int shift = 8 * (i % 4);
        auto u = static_cast<uint32_t>(regs[static_cast<size_t>(reg)]);
        u |= static_cast<uint32_t>(static_cast<uint8_t>(text[i])) << shift;
        regs[static_cast<size_t>(reg)] = static_cast<int32_t>(u);
    }
}

int32_t halves(int low, int high) {
    return static_cast<int32_t>((static_cast<uint32_t>(high & 0xFFFF) << 16) |
                                static_cast<uint32_t>(low & 0xFFFF));
}

} // namespace

const SimChipFacts& factsOf(SimChip chip) {
    static const SimChipFacts kSam3n2b{0x29490760u, 0x412FC230u, 256, 512, 8, 16 * 1024};
    static const SimChipFacts kSam4s2b{0x289B07E0u, 0x410FC241u, 512, 256, 16, 64 * 1024};
    return chip == SimChip::SAM3N2B ? kSam3n2b : kSam4s2b;
}

int32_t chipIdentifier(SimChip chip, int revision) {
    const uint32_t base = factsOf(chip).chipId;
    return static_cast<int32_t>(base | (static_cast<uint32_t>(revision) & 0x1Fu));
}

std::array<int32_t, 256> factoryRegisters(const SimProfile& p) {
    std::array<int32_t, 256> r{};
    r[0x00] = static_cast<int32_t>((static_cast<uint32_t>(p.layoutCode & 0xFF) << 24) | 0x0102u);
    r[0x01] = static_cast<int32_t>((p.featureFlags & 0x0FFFFFFFu) |
                                   (static_cast<uint32_t>(p.appId & 0x0F) << 28));
    r[0x02] = static_cast<int32_t>(p.dateCode[0] | (p.dateCode[1] << 8) | (p.dateCode[2] << 16));
    r[0x03] = p.serialNumber;
    r[0x04] = p.vendorId & 0xFFFF;
    packText(r, 0x05, 32, p.vendorName);
    packText(r, 0x0D, 12, p.productName);
    // Output calibration before the unit has calibrated itself: no offset,
    // the nominal gain of the 12-bit DAC behind a 0-10 V stage.
    for (int ao = 0; ao < 4; ++ao) {
        r[static_cast<size_t>(0x10 + 2 * ao)] = floatBits(0.0f);
        r[static_cast<size_t>(0x11 + 2 * ao)] = floatBits(409.5f);
    }
    // Touch panel ADC limits, low half minimum and high half maximum.
    r[0x18] = halves(182, 3911);
    r[0x19] = halves(237, 3862);
    // Sensor trims 1A..1E are zero (floats). Filters: register 1F bytes
    // CO2, temperature, humidity, lux; register 20 outside, floor, network.
    r[0x1F] = static_cast<int32_t>(30u | (10u << 8) | (20u << 16) | (0u << 24));
    r[0x20] = static_cast<int32_t>(0u | (0u << 8) | (60u << 16));
    r[0x21] = p.comms;
    // Application settings of layout 0. The values are what a fresh unit
    // shows and what ":SD#" brings back.
    r[0x22] = 0x00000005;       // display options
    r[0x23] = 127;              // BACnet max master
    r[0x24] = 0;                // device instance: automatic
    r[0x25] = 0x00000064;       // backlight 100 %
    r[0x26] = floatBits(21.0f); // temperature set point
    r[0x27] = floatBits(16.0f); // lowest set point
    r[0x28] = floatBits(28.0f); // highest set point
    r[0x29] = floatBits(0.5f);  // set point step
    r[0x2A] = 800;              // CO2 alarm level, ppm
    r[0x2B] = 1200;             // CO2 high level, ppm
    r[0x2C] = 300;              // screen saver after seconds
    r[0x2D] = 0;                // language
    r[0x2E] = 0x00000003;       // display units and clock format
    for (int reg = 0x40; reg < 0x60; ++reg)
        r[static_cast<size_t>(reg)] = 0x00010000 | reg; // output mapping table
    return r;
}

std::array<int32_t, 128> factoryLogo() {
    // A recognisable pattern: word i carries its own number in every byte
    // except the top one, which counts down.
    std::array<int32_t, 128> logo{};
    for (uint32_t i = 0; i < 128; ++i)
        logo[i] = static_cast<int32_t>(((127u - i) << 24) | (i << 16) | (i << 8) | i);
    return logo;
}

} // namespace gp::sim
