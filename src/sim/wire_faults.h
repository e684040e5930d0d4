#pragma once
// Faults of the wire between the program and the unit, armed on demand like
// the named failure modes of a mock link: lose a reply, hold it back, cut it
// in two, flip a bit, put noise in front of it, or pull the adapter out. Both
// simulated ports (in-process and pseudo-terminal) shape every reply the
// unit sends through one FaultSchedule.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace gp::sim {

enum class FaultKind {
    DropReply,          // the reply never arrives
    DelayReply,         // the reply starts delayMs later than it would
    SplitReply,         // the reply arrives in two parts with a pause between
    CorruptReply,       // one character of the reply arrives changed
    GarbageBeforeReply, // noise arrives just before the reply
    Vanish,             // the port goes away instead of carrying the reply
};

struct WireFault {
    FaultKind kind = FaultKind::DropReply;
    // Which reply: 0 is the next reply the unit sends; n >= 1 is the reply
    // to the n-th frame the unit takes in after the fault was armed (a
    // frame the unit does not answer uses up its number).
    int frame = 0;
    // Applies to every reply from now on instead of once.
    bool everyReply = false;
    // DelayReply: the extra wait. SplitReply: the pause between the parts,
    // long enough that the program sees two separate arrivals.
    double delayMs = 5.0;
    // SplitReply: bytes in the first part; CorruptReply: index of the
    // changed character; -1 is the middle of the reply.
    int position = -1;
    // CorruptReply: the character that arrives instead; 0 flips the lowest
    // bit of the original, as line noise would.
    char replacement = 0;
    // GarbageBeforeReply: the noise.
    QByteArray garbage = QByteArrayLiteral("\xF8~x");

    // The text form: NAME[=VALUE][@N|@every], for example "drop@3",
    // "delay=300@every", "split=4", "corrupt=6", "garbage=xx", "vanish@2",
    // and "silent" for drop@every.
    QString text() const;
};

// Parses the text form; on failure answers nothing and says why in *error.
std::optional<WireFault> parseWireFault(const QString& text, QString* error = nullptr);
// The names the text form knows, for help texts.
QStringList wireFaultNames();

// One reply as it goes onto the wire.
struct ShapedReply {
    struct Part {
        double pauseBeforeMs = 0.0; // line idle before this part
        QByteArray bytes;
    };
    double delayMs = 0.0;    // extra wait before the first part
    std::vector<Part> parts; // empty: nothing arrives
    bool vanish = false;     // the port goes away now
};

class FaultSchedule {
  public:
    // framesSoFar: the unit's count of frames taken in when the fault is
    // armed; a fault for frame n waits for count framesSoFar + n.
    void arm(const WireFault& fault, quint64 framesSoFar);
    void clear() { armed_.clear(); }
    bool isEmpty() const { return armed_.empty(); }

    // The unit has taken in frame number frameNumber (its running count)
    // and answers reply (possibly nothing). Uses up the faults that apply.
    ShapedReply shape(const QByteArray& reply, quint64 frameNumber);

  private:
    struct Armed {
        WireFault fault;
        quint64 targetFrame = 0; // 0: the next reply
    };
    std::vector<Armed> armed_;
};

} // namespace gp::sim
