#pragma once
// The unit's frame grammar and hex encoding. Every frame the program sends is
// built here. 32-bit values travel as eight upper-case hex digits, least
// significant byte first: 0x12345678 goes on the wire as "78563412".

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace gp {

struct DeviceState;

// Raised by the builders for a register outside 0..255 and by the parsers for
// a text that is too short.
class CodecError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

QChar HexDigit(int value);                 // 0..15 -> "0".."9", "A".."F"
QString HexByte(int value);                // 0..255 -> two digits, high nibble first
QString HexLong(int32_t value);            // eight digits, least significant byte first
int NibbleValue(QChar c);                  // upper-case hex digit -> 0..15, anything else -> 0
int ParseHexByte(const QString& text);     // first two characters; throws when shorter
int32_t ParseHexLong(const QString& text); // first eight characters; throws when shorter
void SwapBytes(int32_t& value);            // bytes 0<->3 and 1<->2

// Builders; each throws CodecError for a register outside 0..255.
QString BuildRead(int reg);                             // ":Rnn#"
QString BuildLRead(int reg);                            // ":Lnn#"
QString BuildWrite(const DeviceState& state, int reg);  // ":Wnn" + HexLong(RegCache(reg)) + "#"
QString BuildLWrite(const DeviceState& state, int reg); // ":Lnn" + HexLong(LRegCache(reg)) + "#"

// Frames with a computed value or a fixed text. The letter is the command
// family (R, W, L, I, U, D, A); item 0..255.
QString BuildItemRead(QChar letter, int item);                 // ":" letter nn "#"
QString BuildItemWrite(QChar letter, int item, int32_t value); // ":" letter nn HexLong "#"
QString BuildStatus();                                         // ":S#"
QString BuildSystem(const QString& action); // ":S" action "#" (":SP#", ":SAMBA#")
QString BuildBootProbe();                   // "N#" for the boot monitor
// "!": the unit takes the line back from its CO2 sensor.
QString BuildPassThroughEnd();

// True when text is a well-formed command frame of the grammar: ":" letter,
// optional two-digit item and eight-digit argument, "#"; or a system action.
bool IsCommandFrame(const QString& text);

// True when reply is a well-formed reply frame that answers frame: the same
// letter and item with the eight-character field ("!" letter nn field "#"),
// or the status ("!S" eight digits "#") for ":S#" and the system actions the
// unit acknowledges with its status. Anything else answers nothing.
bool ReplyAnswers(const QString& frame, const QString& reply);

} // namespace gp
