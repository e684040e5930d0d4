#include "link/codec.h"

#include "link/device_state.h"

#include <QRegularExpression>
#include <algorithm>

namespace gp {

namespace {
bool isUpperHex(QStringView text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

void checkRegister(int reg) {
    if (reg < 0 || reg > 255)
        throw CodecError("register number outside 0..255: " + std::to_string(reg));
}
} // namespace

QChar HexDigit(int value) {
    value &= 0x0F;
    return QChar(value < 10 ? '0' + value : 'A' + value - 10);
}

QString HexByte(int value) {
    value &= 0xFF;
    return QString(HexDigit(value >> 4)) + HexDigit(value);
}

QString HexLong(int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    QString out;
    out.reserve(8);
    for (int k = 0; k < 4; ++k)
        out += HexByte(static_cast<int>((u >> (8 * k)) & 0xFF));
    return out;
}

int NibbleValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return 0;
}

int ParseHexByte(const QString& text) {
    if (text.size() < 2)
        throw CodecError("hex byte needs two characters");
    return NibbleValue(text[0]) * 16 + NibbleValue(text[1]);
}

int32_t ParseHexLong(const QString& text) {
    if (text.size() < 8)
        throw CodecError("hex long needs eight characters");
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<uint32_t>(ParseHexByte(text.mid(2 * k, 2))) << (8 * k);
    return static_cast<int32_t>(u);
}

void SwapBytes(int32_t& value) {
    const auto u = static_cast<uint32_t>(value);
    value = static_cast<int32_t>(((u & 0xFFu) << 24) | ((u & 0xFF00u) << 8) | ((u >> 8) & 0xFF00u) |
                                 (u >> 24));
}

QString BuildRead(int reg) {
    checkRegister(reg);
    return BuildItemRead('R', reg);
}

QString BuildLRead(int reg) {
    checkRegister(reg);
    return BuildItemRead('L', reg);
}

QString BuildWrite(const DeviceState& state, int reg) {
    checkRegister(reg);
    return BuildItemWrite('W', reg, state.RegCache[static_cast<size_t>(reg)]);
}

QString BuildLWrite(const DeviceState& state, int reg) {
    checkRegister(reg);
    return BuildItemWrite('L', reg, state.LRegCache[static_cast<size_t>(reg)]);
}

QString BuildItemRead(QChar letter, int item) {
    checkRegister(item);
    return QStringLiteral(":") + letter + HexByte(item) + QStringLiteral("#");
}

QString BuildItemWrite(QChar letter, int item, int32_t value) {
    checkRegister(item);
    return QStringLiteral(":") + letter + HexByte(item) + HexLong(value) + QStringLiteral("#");
}

QString BuildStatus() {
    return QStringLiteral(":S#");
}

QString BuildSystem(const QString& action) {
    return QStringLiteral(":S") + action + '#';
}

QString BuildBootProbe() {
    return QStringLiteral("N#");
}

QString BuildPassThroughEnd() {
    return QStringLiteral("!");
}

bool IsCommandFrame(const QString& text) {
    static const QRegularExpression item(QStringLiteral("^:[RLIUDAW][0-9A-F]{2}([0-9A-F]{8})?#$"));
    static const QRegularExpression system(QStringLiteral("^:S([A-Z]|AMBA)?#$"));
    return item.match(text).hasMatch() || system.match(text).hasMatch();
}

bool ReplyAnswers(const QString& frame, const QString& reply) {
    if (!IsCommandFrame(frame) || !reply.startsWith('!') || !reply.endsWith('#'))
        return false;
    const QChar letter = frame[1];
    if (letter == 'S') {
        // ":S#" asks for the status; the actions the unit carries out at once
        // are acknowledged with the same status reply.
        return reply.size() == 11 && reply[1] == 'S' && isUpperHex(QStringView(reply).mid(2, 8));
    }
    // Every item family answers with its own letter, the item it was asked
    // for and an eight-character field: 13 characters in all.
    if (reply.size() != 13 || reply[1] != letter || QStringView(reply).mid(2, 2) != frame.mid(2, 2))
        return false;
    // Every field is eight hex digits, the unique id's four parts (U00..U03)
    // included: a part with another character is a damaged reply, read
    // again, never the unit's id.
    return isUpperHex(QStringView(reply).mid(4, 8));
}

} // namespace gp
