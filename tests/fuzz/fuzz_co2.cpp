// The CO2 sensor line: the sensor (or noise) may send any characters, and the
// engineer may type anything into the setting fields and press any button.
// Whatever happens, every line that reaches the sensor is one printable
// command line ended by CR LF, never a control character in it, and nothing
// but the pass-through's own start and end frames goes to the unit.

#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "fuzz/fuzz_support.h"
#include "link/codec.h"
#include "link/link.h"
#include "support/fake_port.h"

using gp::fuzz::FuzzInput;

namespace {

bool isSensorLine(const QByteArray& w) {
    if (!w.endsWith("\r\n") || w.size() < 3)
        return false;
    for (qsizetype i = 0; i < w.size() - 2; ++i) {
        const auto c = static_cast<unsigned char>(w[i]);
        if (c < 0x20 || c >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    gp::Link link;
    auto owned = std::make_unique<gp::test::FakePort>();
    gp::test::FakePort* port = owned.get();
    link.serial.setPort(std::move(owned));
    link.serial.choosePort(QStringLiteral("ttyFUZZ0"));
    gp::Co2Link co2(link);
    gp::Co2Settings settings(co2);
    co2.Co2Enter();

    static const int kButtons[] = {0, 1, 2, 3, 4, 5, 7, 10, 12, 13, 15, 20};
    int steps = 0;
    while (!in.empty() && ++steps < 200) {
        switch (in.byte() % 5) {
        case 0:
            port->feed(in.chunk(80));
            break;
        case 1:
            settings.setText(1 + in.byte() % 11, QString::fromUtf8(in.chunk(20)));
            break;
        case 2:
            settings.setMethodIndex(int(in.byte() % 8) - 1);
            settings.press(kButtons[in.byte() % std::size(kButtons)]);
            break;
        default:
            for (int t = in.byte() % 16; t >= 0; --t)
                co2.tick();
            break;
        }
    }
    co2.Co2Leave();

    const QString enter = gp::BuildSystem(QStringLiteral("Z"));
    const QString leave = gp::BuildPassThroughEnd();
    for (const QByteArray& w : port->written) {
        const QString text = QString::fromLatin1(w);
        FUZZ_CHECK(text == enter || text == leave || isSensorLine(w),
                   "not a clean sensor line: " + QString::fromLatin1(w.toPercentEncoding()));
    }
    return 0;
}
