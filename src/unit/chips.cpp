#include "unit/chips.h"

#include <iterator>

namespace gp::unit {

namespace {

constexpr Chip kChips[] = {
    {0x29490760u, "SAM3N2B", true},
    {0x289B07E0u, "SAM4S2B", false},
};

} // namespace

std::optional<Chip> chipOf(uint32_t identifier) {
    const uint32_t id = withoutRevision(identifier);
    for (const Chip& c : kChips)
        if (c.identifier == id)
            return c;
    return std::nullopt;
}

std::optional<QString> chipNameOf(uint32_t identifier) {
    const auto chip = chipOf(identifier);
    if (!chip)
        return std::nullopt;
    return QString::fromLatin1(chip->name);
}

int flashBytesOfChip(int32_t identifier) {
    static const int kSizes[16] = {0, 8, 16, 32, 0, 64, 0, 128, 160, 256, 512, 0, 1024, 0, 2048, 0};
    const int kib = kSizes[(static_cast<uint32_t>(identifier) >> 8) & 0xF];
    return (kib > 0 ? kib : 128) * 1024;
}

bool needsPowerCycleForBootMonitor(int32_t identifier) {
    const auto chip = chipOf(static_cast<uint32_t>(identifier));
    return chip && chip->powerCycleFirst;
}

} // namespace gp::unit
