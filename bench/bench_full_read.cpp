// The full register-bank read (258 frames) against the simulated unit at
// 9600 baud with a 2 ms turnaround, in virtual time. Prints how close the
// poll cycle comes to what the wire alone allows, paced by the 20 ms tick
// and with the fast link.
#include "link/link.h"
#include "sim/sim_port.h"
#include "sim/virtual_wire.h"
#include "unit/bulk_transfer.h"

#include <algorithm>
#include <cstdio>

namespace {

using namespace gp;

// Runs the read; answers 0 when it completed cleanly.
int run(bool fast) {
    Link link;
    auto p = std::make_unique<sim::SimPort>();
    sim::SimPort* port = p.get();
    port->setTurnaroundMs(2.0);
    link.serial.setPort(std::move(p));
    link.serial.choosePort(QStringLiteral("sim0"));
    if (fast)
        link.setFast(true);

    const QStringList frames = readAllFrames();

    // What the bytes alone need: every frame out, every reply back, 10 bits
    // a byte at 9600 baud, plus the unit's turnaround per exchange.
    const double byteMs = 10.0 * 1000.0 / 9600.0;
    double wireMs = 0;
    for (const QString& f : frames)
        wireMs += (f.size() + 13) * byteMs + 2.0;

    sim::VirtualWire wire(*port, link);
    auto period = [&] { wire.period(); };

    const double start = port->nowMs();
    double endMs = -1;
    link.poll.subscribe([&](const BatchStats&, bool) { endMs = port->nowMs(); });
    // 256 reads, ":U05#" and the end entry: the batch's 258 entries.
    link.startBatch(frames, 258);
    int ticks = 0;
    while (link.busy() && ticks < 100000) {
        period();
        link.tick();
        ++ticks;
    }
    // The batch ends between two ticks in fast mode: its time is when its
    // last reply was taken, not the end of that period.
    const double simS = ((endMs >= 0 ? endMs : port->nowMs()) - start) / 1000.0;
    const double wireS = wireMs / 1000.0;
    std::printf("%s: frames=%d ticks=%d sim_s=%.3f wire_limit_s=%.3f ratio=%.2f\n",
                fast ? "full-read-fast" : "full-read", link.poll.CmdQueueLen, ticks, simS, wireS,
                simS / wireS);
    if (link.poll.CmdQueuePos != -1 || link.poll.stats().lost != 0) {
        std::fprintf(stderr, "%s did not complete cleanly (lost %d)\n",
                     fast ? "full-read-fast" : "full-read", link.poll.stats().lost);
        return 1;
    }
    return 0;
}

} // namespace

int main() {
    const int tickPaced = run(false);
    const int fast = run(true);
    return tickPaced != 0 || fast != 0 ? 1 : 0;
}
