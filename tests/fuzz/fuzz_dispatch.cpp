// Reply dispatch: any text may arrive as a "reply". A reply that is dropped
// leaves every cache as it was; one that is taken lands exactly where its
// letter and item say, with the value its field encodes; and dispatching the
// same reply twice is the same as once.

#include "fuzz/fuzz_support.h"
#include "link/codec.h"
#include "link/device_state.h"

namespace {

bool sameCaches(const gp::DeviceState& a, const gp::DeviceState& b) {
    return a.RegCache == b.RegCache && a.RegRecord.slot == b.RegRecord.slot &&
           a.LRegCache == b.LRegCache && a.IRegCache == b.IRegCache &&
           a.IRegRecord == b.IRegRecord && a.ARegCache == b.ARegCache &&
           a.DiagValues == b.DiagValues && a.DiagItem10 == b.DiagItem10 &&
           a.A2DChannelSeq == b.A2DChannelSeq && a.ScheduleTime == b.ScheduleTime &&
           a.HWTestFlags == b.HWTestFlags && a.IdentStrings == b.IdentStrings &&
           a.FirmwareVersion == b.FirmwareVersion && a.IdentU05 == b.IdentU05 &&
           a.StatusFlags == b.StatusFlags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    gp::DeviceState state;
    // A recognisable cache, so that a write to the wrong slot shows.
    for (int i = 0; i < 256; ++i)
        state.RegCache[size_t(i)] = 0x5A5A0000 + i;
    state.refreshRegRecord();
    const gp::DeviceState before = state;

    const gp::ReplyKind kind = gp::DispatchReply(state, reply);
    if (kind == gp::ReplyKind::Ignored) {
        FUZZ_CHECK(sameCaches(state, before), "a dropped reply changed the caches: " + reply);
        return 0;
    }
    FUZZ_CHECK(reply.startsWith(QLatin1Char('!')) && reply.endsWith(QLatin1Char('#')),
               "taken without its frame characters: " + reply);
    if (kind == gp::ReplyKind::R || kind == gp::ReplyKind::W) {
        FUZZ_CHECK(reply.size() == 13, "register reply of the wrong length: " + reply);
        const int item = gp::ParseHexByte(reply.mid(2, 2));
        const int32_t value = gp::ParseHexLong(reply.mid(4, 8));
        FUZZ_CHECK(state.RegCache[size_t(item)] == value, "value not where the item says");
        for (int i = 0; i < 256; ++i)
            if (i != item)
                FUZZ_CHECK(state.RegCache[size_t(i)] == before.RegCache[size_t(i)],
                           "another register changed: " + reply);
        for (int k = 0; k < gp::RegisterRecord::kSlots; ++k)
            FUZZ_CHECK(state.RegRecord.slot[size_t(k)] == state.RegCache[size_t(k)],
                       "typed mirror out of step");
    }
    gp::DeviceState again = state;
    gp::DispatchReply(again, reply);
    FUZZ_CHECK(sameCaches(state, again), "dispatching twice differs from once: " + reply);
    return 0;
}
