#include "link/link.h"

namespace gp {

Link::Link() : serial(log), poll(serial, state, progress), writes(poll, state, log) {
    // The boot monitor's answer ends whatever batch was waiting for it.
    serial.onBootFound = [this] { poll.CmdQueuePos = -1; };
    serial.onReplyComplete = [this] { replyComplete(); };
}

void Link::setFast(bool on, int gapMs) {
    fast_ = on;
    fastGapMs_ = gapMs < 0 ? 0 : gapMs;
    advanceScheduled_ = false;
}

void Link::replyComplete() {
    // One scheduled call takes every reply that arrived until it runs.
    if (!fast_ || !scheduleAdvance || advanceScheduled_)
        return;
    advanceScheduled_ = true;
    scheduleAdvance(fastGapMs_);
}

bool Link::choosePort(const QString& name) {
    state.forgetRegisters();
    return serial.choosePort(name);
}

} // namespace gp
