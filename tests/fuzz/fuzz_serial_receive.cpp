// The serial receive path: characters arrive in chunks of any size and
// content, the boot-monitor probe and the CO2 pass-through are switched on
// and off between chunks, and the port may vanish. Whatever arrives, a reply
// handed to the poll cycle is one "!" ... "#" frame cut from what was
// received, the buffer stays bounded, and while the CO2 pass-through is on
// every character reaches the sensor parser unchanged and nothing reaches
// the reply path.

#include "fuzz/fuzz_support.h"
#include "link/serial_link.h"
#include "link/traffic_log.h"
#include "support/fake_port.h"

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    gp::TrafficLog log;
    gp::SerialLink link(log);
    auto owned = std::make_unique<gp::test::FakePort>();
    gp::test::FakePort* port = owned.get();
    link.setPort(std::move(owned));
    link.choosePort(QStringLiteral("ttyFUZZ0"));

    QByteArray toSensor;
    link.co2Receive = [&](const QByteArray& chars) { toSensor += chars; };
    QByteArray sentWhileCo2;
    QByteArray allFed;

    while (!in.empty()) {
        const uint8_t op = in.byte();
        if (op < 0x10) {
            link.BootProbe = op & 1;
            link.Co2PassThrough = op & 2;
            continue;
        }
        if (op == 0x10) {
            port->vanish();
            continue;
        }
        const QByteArray chunk = in.chunk(64);
        allFed += chunk;
        const bool co2 = link.Co2PassThrough && !link.BootProbe;
        const bool wasReady = link.ReplyReady;
        const QString before = link.RxMsg;
        port->feed(chunk);
        if (co2) {
            sentWhileCo2 += chunk;
            FUZZ_CHECK(link.ReplyReady == wasReady && link.RxMsg == before,
                       "a sensor line reached the reply path");
        }
        FUZZ_CHECK(link.RxBuffer.size() <= gp::SerialLink::kRxBufferCap, "buffer unbounded");
        if (link.ReplyReady && !wasReady) {
            const QString& r = link.RxMsg;
            FUZZ_CHECK(r.size() >= 2 && r.front() == QLatin1Char('!') &&
                           r.back() == QLatin1Char('#'),
                       "handed over a reply without its frame characters: " + r);
            FUZZ_CHECK(r.mid(1, r.size() - 2).indexOf(QLatin1Char('!')) < 0 &&
                           r.mid(1, r.size() - 2).indexOf(QLatin1Char('#')) < 0,
                       "a reply holds a frame character inside: " + r);
            FUZZ_CHECK(allFed.contains(r.toLatin1()), "a reply not received: " + r);
            link.ReplyReady = false; // the poll cycle takes it
        }
    }
    FUZZ_CHECK(toSensor == sentWhileCo2, "the sensor did not get exactly what arrived");
    return 0;
}
