#pragma once
// A link and the simulated unit behind it, run in virtual time. Tick-paced,
// one poll period moves the wire 20 ms at once. With the fast link the link
// asks, when a reply is complete, for its next frame after the unit's
// turnaround; the wire then moves in short slices so that the advance runs
// when it is due and not at the end of the period, as the desktop's timer
// would run it.

#include "link/link.h"

namespace gp::sim {

class SimPort;

class VirtualWire {
  public:
    // Takes the link's scheduleAdvance for as long as it lives.
    VirtualWire(SimPort& port, Link& link);
    ~VirtualWire();
    VirtualWire(const VirtualWire&) = delete;
    VirtualWire& operator=(const VirtualWire&) = delete;

    // Moves the wire one poll period, running every advance the fast link
    // asked for on the way. The link's tick is the caller's.
    void period();
    // The link asked for its next frame gapMs from now.
    void schedule(int gapMs);
    // Advances run so far.
    int advances() const { return advances_; }

  private:
    SimPort& port_;
    Link& link_;
    double advanceAtMs_ = -1; // when the next advance is due (-1: none)
    int advances_ = 0;
};

} // namespace gp::sim
