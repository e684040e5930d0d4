#pragma once
// What the program knows of the unit: the reply caches that DispatchReply
// fills. Nothing here is cleared during a run; a value stays until the next
// reply for the same register or item overwrites it.

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace gp {

// The typed mirror of registers 00..39 hex. Each slot holds the register's
// 32 bits; a view reads it as an integer, a single-precision float or four
// bytes in memory (little-endian) order.
struct RegisterRecord {
    static constexpr int kSlots = 58;
    std::array<int32_t, kSlots> slot{};

    int32_t asInt(int k) const { return slot[static_cast<size_t>(k)]; }
    float asFloat(int k) const;
    uint8_t byte(int k, int i) const; // byte i (0 = least significant) of slot k
    void setFloat(int k, float value);
    void setByte(int k, int i, uint8_t value);
};

struct DeviceState {
    std::array<int32_t, 256> RegCache{};
    RegisterRecord RegRecord;
    std::array<int32_t, 256> LRegCache{};
    std::array<int32_t, 19> IRegCache{};
    std::array<int32_t, 19> IRegRecord{}; // mirror of IRegCache; slots read as float by the views
    std::array<int32_t, 13> ARegCache{};
    std::array<int32_t, 11> DiagValues{}; // diagnostic items 05..09, 0B..0E at item - 5
    int32_t DiagItem10 = 0;
    int32_t A2DChannelSeq = 0;
    int32_t ScheduleTime = 0;
    int32_t HWTestFlags = 0;
    std::array<QString, 5> IdentStrings;
    int16_t FirmwareVersion = 0;
    int32_t IdentU05 = 0;
    int32_t StatusFlags = 0;

    // Called after a "D" reply changed one of DiagValues, so the debug value
    // list can be rebuilt.
    std::function<void()> onDebugValuesChanged;

    // Copies RegCache 0..57 into RegRecord.
    void refreshRegRecord();
    // Copies RegRecord back into RegCache 0..57 (before a settings write).
    void storeRegRecord();
    float inputAsFloat(int item) const;
};

// What a reply was, for the counters and for callers that want to know.
enum class ReplyKind { Ignored, L, R, W, I, U, S, D, A };

// Decodes one complete reply ("!" ... "#") into the caches. Malformed replies
// (wrong first or last character, wrong length, unknown kind, item out of
// range) are dropped and answer ReplyKind::Ignored.
ReplyKind DispatchReply(DeviceState& state, const QString& reply);

} // namespace gp
