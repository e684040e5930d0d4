#pragma once
// A link talking to the simulated unit in virtual time: each step moves the
// wire 20 ms and runs one poll tick, so a 258-frame batch runs in
// milliseconds and repeats exactly.

#include "link/link.h"
#include "sim/sim_port.h"
#include "sim/virtual_wire.h"

#include <algorithm>
#include <functional>

namespace gp::test {

class SimRig {
  public:
    explicit SimRig(sim::SimProfile profile = {}) { plug(std::move(profile)); }

    // A unit of this profile on the port, in place of the one before (the
    // cable moved to another unit).
    void plug(sim::SimProfile profile) {
        wire.reset();
        auto p = std::make_unique<sim::SimPort>(std::move(profile));
        port = p.get();
        link.serial.setPort(std::move(p));
        link.serial.choosePort(QStringLiteral("sim0"));
        wire = std::make_unique<sim::VirtualWire>(*port, link);
    }

    sim::SimUnit& unit() { return port->unit(); }

    // The fast link: a reply complete between two ticks has the next frame
    // sent after the gap, in virtual time, as the desktop's timer would.
    void setFast(bool on, int gapMs = Link::kDefaultFastGapMs) { link.setFast(on, gapMs); }

    // One poll period: the wire moves 20 ms (stopping for every advance the
    // fast link asked for), then the tick runs, then whatever else the
    // caller drives at the same rate.
    void step() {
        wire->period();
        link.tick();
        if (alsoTick)
            alsoTick();
        ++ticks;
    }
    void runTicks(int n) {
        for (int i = 0; i < n; ++i)
            step();
    }
    // Steps until done() or the limit; answers done().
    bool runUntil(const std::function<bool()>& done, int maxTicks = 20000) {
        for (int i = 0; i < maxTicks && !done(); ++i)
            step();
        return done();
    }
    // Steps until the running batch has ended; answers its end position
    // (-1 completed, -2 lost last reply).
    int runBatch(int maxTicks = 20000) {
        runUntil([this] { return !link.busy(); }, maxTicks);
        return link.poll.CmdQueuePos;
    }

    Link link;
    sim::SimPort* port = nullptr;
    std::function<void()> alsoTick;
    int ticks = 0;
    std::unique_ptr<sim::VirtualWire> wire;
    int advances() const { return wire->advances(); }
};

} // namespace gp::test
