#include "link/device_state.h"

#include "link/codec.h"

#include <cstring>

namespace gp {

float RegisterRecord::asFloat(int k) const {
    float f;
    const int32_t v = asInt(k);
    std::memcpy(&f, &v, sizeof f);
    return f;
}

uint8_t RegisterRecord::byte(int k, int i) const {
    return static_cast<uint8_t>((static_cast<uint32_t>(asInt(k)) >> (8 * i)) & 0xFF);
}

void RegisterRecord::setFloat(int k, float value) {
    int32_t v;
    std::memcpy(&v, &value, sizeof v);
    slot[static_cast<size_t>(k)] = v;
}

void RegisterRecord::setByte(int k, int i, uint8_t value) {
    auto u = static_cast<uint32_t>(slot[static_cast<size_t>(k)]);
    u = (u & ~(0xFFu << (8 * i))) | (static_cast<uint32_t>(value) << (8 * i));
    slot[static_cast<size_t>(k)] = static_cast<int32_t>(u);
}

void DeviceState::refreshRegRecord() {
    for (int k = 0; k < RegisterRecord::kSlots; ++k)
        RegRecord.slot[static_cast<size_t>(k)] = RegCache[static_cast<size_t>(k)];
}

void DeviceState::storeRegRecord() {
    for (int k = 0; k < RegisterRecord::kSlots; ++k) {
        const auto at = static_cast<size_t>(k);
        if (RegCache[at] != RegRecord.slot[at]) {
            RegCache[at] = RegRecord.slot[at];
            RegSource[at] = ValueSource::Engineer;
        }
    }
}

QList<int> DeviceState::unknownOf(const QList<int>& regs) const {
    QList<int> unknown;
    for (int r : regs) {
        if (r >= 0 && r < 256 && !known(r) && !unknown.contains(r))
            unknown << r;
    }
    return unknown;
}

void DeviceState::setRegister(int reg, int32_t value, ValueSource source) {
    const auto at = static_cast<size_t>(reg);
    RegCache[at] = value;
    RegSource[at] = source;
    if (reg < RegisterRecord::kSlots)
        RegRecord.slot[at] = value;
}

void DeviceState::forgetRegisters() {
    RegSource.fill(ValueSource::Unknown);
}

float DeviceState::inputAsFloat(int item) const {
    float f;
    const int32_t v = IRegRecord[static_cast<size_t>(item)];
    std::memcpy(&f, &v, sizeof f);
    return f;
}

ReplyKind DispatchReply(DeviceState& s, const QString& reply) {
    if (reply.size() < 2 || reply.front() != '!' || reply.back() != '#')
        return ReplyKind::Ignored;
    const QChar kind = reply[1];
    const auto len = reply.size();
    if (kind == 'S') {
        if (len != 11)
            return ReplyKind::Ignored;
        s.StatusFlags = ParseHexLong(reply.mid(2, 8));
        return ReplyKind::S;
    }
    if (len != 13)
        return ReplyKind::Ignored;
    const int item = ParseHexByte(reply.mid(2, 2));
    const QString field = reply.mid(4, 8);
    const int32_t value = ParseHexLong(field);
    const auto at = static_cast<size_t>(item);
    switch (kind.unicode()) {
    case 'L':
        s.LRegCache[at] = value;
        return ReplyKind::L;
    case 'R':
    case 'W':
        // A confirmed write of the cached value keeps where that value came
        // from; anything else the unit reports is the unit's.
        if (kind == 'R' || s.RegCache[at] != value || !s.known(item))
            s.RegSource[at] = ValueSource::Unit;
        s.RegCache[at] = value;
        s.refreshRegRecord();
        return kind == 'R' ? ReplyKind::R : ReplyKind::W;
    case 'I':
        if (item > 18)
            return ReplyKind::Ignored;
        s.IRegCache[at] = value;
        s.IRegRecord = s.IRegCache;
        return ReplyKind::I;
    case 'U':
        if (item <= 3) {
            // Another unique id: the cable now leads to another unit.
            if (!s.IdentStrings[at].isEmpty() && s.IdentStrings[at] != field)
                s.forgetRegisters();
            s.IdentStrings[at] = field;
        } else if (item == 4) {
            // The firmware version is a signed 16-bit number; a value outside
            // that range is dropped whole.
            if (value < -32768 || value > 32767)
                return ReplyKind::Ignored;
            s.FirmwareVersion = static_cast<int16_t>(value);
        } else if (item == 5) {
            s.IdentU05 = value;
        } else {
            return ReplyKind::Ignored;
        }
        return ReplyKind::U;
    case 'D':
        switch (item) {
        case 0x01:
            s.A2DChannelSeq = value;
            break;
        case 0x02:
            s.ScheduleTime = value;
            break;
        case 0x03:
            s.HWTestFlags = value;
            break;
        case 0x0A:
            s.DiagItem10 = value;
            break;
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x0E:
            s.DiagValues[at - 5] = value;
            if (s.onDebugValuesChanged)
                s.onDebugValuesChanged();
            break;
        default:
            return ReplyKind::Ignored;
        }
        return ReplyKind::D;
    case 'A':
        if (item > 12)
            return ReplyKind::Ignored;
        s.ARegCache[at] = value;
        return ReplyKind::A;
    default:
        return ReplyKind::Ignored;
    }
}

} // namespace gp
