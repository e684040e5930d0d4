#pragma once
// A link on a scripted port ("ttyFAKE0", open): the test feeds the replies
// and reads what was written.

#include "link/link.h"
#include "support/fake_port.h"

#include <memory>

namespace gp::test {

struct FakeLinkRig {
    Link link;
    FakePort* port = nullptr;
    FakeLinkRig() {
        auto p = std::make_unique<FakePort>();
        port = p.get();
        link.serial.setPort(std::move(p));
        link.serial.choosePort(QStringLiteral("ttyFAKE0"));
    }
};

} // namespace gp::test
