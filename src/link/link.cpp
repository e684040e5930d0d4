#include "link/link.h"

namespace gp {

Link::Link() : serial(log), poll(serial, state, progress), writes(poll, state, log) {
    // The boot monitor's answer ends whatever batch was waiting for it.
    serial.onBootFound = [this] { poll.CmdQueuePos = -1; };
}

bool Link::choosePort(const QString& name) {
    state.forgetRegisters();
    return serial.choosePort(name);
}

} // namespace gp
