#pragma once
// What the program knows of the unit: the reply caches that DispatchReply
// fills. A value stays until the next reply for the same register or item
// overwrites it; each register slot also knows where its value came from, so
// that nothing the unit never said is written back to it.

#include <QList>
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

// Where a register cache slot's value came from. Only Unit, File and
// Engineer values may be written to the unit.
enum class ValueSource : uint8_t {
    Unknown,  // never read from this unit since the port was chosen
    Unit,     // read from the connected unit
    File,     // taken from a loaded file
    Engineer, // entered in a view or on the command line
};

struct DeviceState {
    std::array<int32_t, 256> RegCache{};
    std::array<ValueSource, 256> RegSource{}; // all Unknown at start
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
    // Copies RegRecord back into RegCache 0..57 (before a settings write). A
    // slot the view changed becomes the engineer's; the others keep their
    // source.
    void storeRegRecord();

    bool known(int reg) const {
        return RegSource[static_cast<size_t>(reg)] != ValueSource::Unknown;
    }
    // The registers of `regs` whose value is not known, in the given order.
    QList<int> unknownOf(const QList<int>& regs) const;
    // Puts a value into the cache (and the typed mirror) with its source.
    void setRegister(int reg, int32_t value, ValueSource source);
    // Every register becomes unknown: another port, or another unit on it.
    // The values stay for the views; none of them is written back again
    // before it has been read anew.
    void forgetRegisters();
    float inputAsFloat(int item) const;
};

// What a reply was, for the counters and for callers that want to know.
enum class ReplyKind { Ignored, L, R, W, I, U, S, D, A };

// Decodes one complete reply ("!" ... "#") into the caches. Malformed replies
// (wrong first or last character, wrong length, unknown kind, item out of
// range) are dropped and answer ReplyKind::Ignored. An "R" reply makes its
// register the unit's; a "W" echo of the value the cache holds keeps that
// value's source, any other echo makes it the unit's. A unique id part (U00
// .. U03) that differs from the one held means another unit: every register
// is forgotten.
ReplyKind DispatchReply(DeviceState& state, const QString& reply);

} // namespace gp
