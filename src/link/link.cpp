#include "link/link.h"

namespace gp {

Link::Link() : serial(log), poll(serial, state, progress) {
    // The boot monitor's answer ends whatever batch was waiting for it.
    serial.onBootFound = [this] { poll.CmdQueuePos = -1; };
}

} // namespace gp
