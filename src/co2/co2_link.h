#pragma once
// The line to the unit's CO2 sensor, carried through the unit: entering and
// leaving the pass-through, sending sensor lines, the receive parser, and the
// two 100 ms command sequences (read everything, write one setting).
//
// The sensor speaks ASCII lines. Commands: a letter, optionally a space and
// decimal arguments, CR LF ("K 0", "p 10", "P 10 1", "A 16", "G"). Replies:
// a leading space, then groups of a key letter and one or two five-digit
// fields (" Z 00450 z 00449", " p 00010 00001"), CR LF.

#include "link/link.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace gp {

// The value of a five-character decimal field of a sensor reply. A field of
// another length counts as 0; a character that is not a digit counts as 0 in
// its place.
int32_t Co2ParseFive(const QString& text);

// What a reply key means to the program.
enum class Co2Key {
    Level,     // "Z": the live concentration in ppm
    Filter,    // "a", "A": the filter value
    ParamRead, // "p": parameter number and value
    ParamAck,  // "P": a parameter write acknowledged
    RegRead,   // "R": register number and value
    Known,     // recognised and of no interest ("z", "V", "@", ...)
    Unknown,   // anything else, ignored too
};
Co2Key Co2KeyOf(QChar key);

// One key group of a reply line, as the settings handle it.
struct Co2Group {
    QChar key;
    int32_t first = 0;  // the first field
    int32_t second = 0; // the second field; 0 when the group has none
    QString line;       // the whole line, without CR LF
};

class Co2Link {
  public:
    // A sensor line never comes near this long; without a line feed the
    // oldest characters are dropped so that noise cannot grow the buffer.
    static constexpr int kRxBufferCap = 1024;
    static constexpr int kTickMs = 100;

    explicit Co2Link(Link& link);
    ~Co2Link();
    Co2Link(const Co2Link&) = delete;
    Co2Link& operator=(const Co2Link&) = delete;

    // The CO2 view was selected: the unit connects the line through to the
    // sensor, and everything is read.
    void Co2Enter();
    // The CO2 view was left or the window closes: the sensor back to stream
    // mode, then the unit takes the line back. The running sequences stop,
    // since their lines would now reach the unit instead of the sensor.
    void Co2Leave();
    // Sends the text as it is (the caller appends CR LF to sensor lines).
    void Co2Send(const QString& text);
    // Sends one sensor command line, CR LF appended.
    void sendLine(const QString& line) { Co2Send(line + QStringLiteral("\r\n")); }

    void Co2ReadAll();
    // line: the complete command line without CR LF.
    void Co2QueueWrite(const QString& line);

    // Characters from the port while the pass-through is on.
    void Co2Receive(const QByteArray& chars);

    // CO2ReadTimer and CO2WriteTimer; each does nothing while disabled.
    void tickRead();
    void tickWrite();
    void tick() {
        tickRead();
        tickWrite();
    }

    bool passThrough() const { return link_.serial.Co2PassThrough; }
    bool readTimerEnabled() const { return readTimer_; }
    bool writeTimerEnabled() const { return writeTimer_; }
    // Neither sequence has lines left to send.
    bool idle() const { return !readTimer_ && !writeTimer_; }

    int Co2ReadStep = -1;
    int Co2WriteStep = -1;
    QString Co2PendingCmd; // CR LF included
    QByteArray Co2RxBuffer;
    bool Co2AdvancedCal = false;
    // The last live concentration; -1 until the sensor sent one.
    int level = -1;
    // Reply lines parsed since the pass-through began.
    int linesReceived = 0;
    // Lines " ?" (the sensor refused a command) that arrived while the write
    // sequence ran: only its own three lines are sent then, so such a line
    // answers one of them, most likely the setting itself.
    int writeRefusals = 0;
    // Called for each such refusal, for the screen to say so.
    std::function<void()> onWriteRefused;

    // Key groups for the settings (filter, parameter and register replies).
    std::function<void(const Co2Group&)> onGroup;
    // Co2ReadAll is about to read everything again.
    std::function<void()> onReadAll;
    // The live level changed.
    std::function<void(int)> onLevel;

    Link& link() { return link_; }

  private:
    void parseLine(const QString& line);

    Link& link_;
    // The serial link may outlive this object (the window's link goes before
    // its views); its receive callback finds out through this.
    std::shared_ptr<Co2Link*> self_;
    bool readTimer_ = false;
    bool writeTimer_ = false;
};

} // namespace gp
