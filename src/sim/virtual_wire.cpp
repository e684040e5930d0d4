#include "sim/virtual_wire.h"

#include "link/poll_cycle.h"
#include "sim/sim_port.h"

#include <algorithm>

namespace gp::sim {

VirtualWire::VirtualWire(SimPort& port, Link& link) : port_(port), link_(link) {
    link_.scheduleAdvance = [this](int gapMs) { schedule(gapMs); };
}

VirtualWire::~VirtualWire() {
    link_.scheduleAdvance = nullptr;
}

void VirtualWire::schedule(int gapMs) {
    advanceAtMs_ = port_.nowMs() + gapMs;
}

void VirtualWire::period() {
    if (!link_.fast()) {
        port_.advance(PollCycle::kTickMs);
        return;
    }
    constexpr double kSliceMs = 0.5;
    constexpr double kEpsMs = 1e-6;
    const double end = port_.nowMs() + PollCycle::kTickMs;
    for (;;) {
        const double now = port_.nowMs();
        if (advanceAtMs_ >= 0 && advanceAtMs_ <= now + kEpsMs) {
            advanceAtMs_ = -1;
            ++advances_;
            link_.advanceNow();
            continue;
        }
        if (now >= end - kEpsMs)
            return;
        double next = std::min(end, now + kSliceMs);
        if (advanceAtMs_ >= 0)
            next = std::min(next, advanceAtMs_);
        port_.advance(next - now);
    }
}

} // namespace gp::sim
