// The full register-bank read (258 frames) against the simulated unit at
// 9600 baud with a 2 ms turnaround, in virtual time. Prints how close the
// poll cycle comes to what the wire alone allows.
#include "link/codec.h"
#include "link/link.h"
#include "sim/sim_port.h"

#include <cstdio>

int main() {
    using namespace gp;
    Link link;
    auto p = std::make_unique<sim::SimPort>();
    sim::SimPort* port = p.get();
    port->setTurnaroundMs(2.0);
    link.serial.setPort(std::move(p));
    link.serial.choosePort(QStringLiteral("sim0"));

    QStringList frames;
    for (int r = 0; r <= 255; ++r)
        frames << BuildRead(r);
    frames << BuildItemRead('U', 5);

    // What the bytes alone need: every frame out, every reply back, 10 bits
    // a byte at 9600 baud, plus the unit's turnaround per exchange.
    const double byteMs = 10.0 * 1000.0 / 9600.0;
    double wireMs = 0;
    for (const QString& f : frames)
        wireMs += (f.size() + 13) * byteMs + 2.0;

    const double start = port->nowMs();
    // 256 reads, ":U05#" and the end entry: the batch's 258 entries.
    link.startBatch(frames, 258);
    int ticks = 0;
    while (link.busy() && ticks < 100000) {
        port->advance(PollCycle::kTickMs);
        link.tick();
        ++ticks;
    }
    const double simS = (port->nowMs() - start) / 1000.0;
    const double wireS = wireMs / 1000.0;
    std::printf("full-read: frames=%d ticks=%d sim_s=%.3f wire_limit_s=%.3f ratio=%.2f\n",
                link.poll.CmdQueueLen, ticks, simS, wireS, simS / wireS);
    if (link.poll.CmdQueuePos != -1 || link.poll.stats().lost != 0) {
        std::fprintf(stderr, "full-read did not complete cleanly (lost %d)\n",
                     link.poll.stats().lost);
        return 1;
    }
    return 0;
}
