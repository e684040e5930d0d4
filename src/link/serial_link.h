#pragma once
// The one serial line to the unit: sending a frame, cutting replies out of
// the received characters, and the two diversions of the receive path (the
// boot monitor probe and the CO2 sensor pass-through).

#include "link/traffic_log.h"
#include "platform/serial_port.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace gp {

// Health of the line since the port was opened; shown in the status bar.
// Every frame sent is answered, lost (no answer in time) or still awaited:
// sent = answered + lost + in flight. A frame a batch meant to send on a
// closed port was not sent and counts apart.
struct LinkCounters {
    int framesSent = 0;
    int repliesDispatched = 0;
    int repliesLost = 0;
    int repliesStale = 0; // replies that answered no frame in flight
    int charsDiscarded = 0;
    int framesNotSent = 0; // the port was closed
};

class SerialLink {
  public:
    // A reply without "#" may not grow the buffer without limit: beyond this
    // many characters the oldest are dropped.
    static constexpr int kRxBufferCap = 4096;
    // Poll ticks a reply may take before it counts as lost.
    static constexpr int kReplyTimeoutTicks = 8;
    // Replies kept between two ticks, and frames awaited at once (a batch
    // frame and a few sent on their own); beyond these the oldest go.
    static constexpr int kMaxPendingReplies = 32;
    static constexpr int kMaxAwaited = 8;
    static constexpr const char* kUnitSettings = "9600,n,8,1";

    explicit SerialLink(TrafficLog& log);
    ~SerialLink();

    // The link takes the port; null leaves the link without a port.
    void setPort(std::unique_ptr<SerialPort> port);
    SerialPort* port() const { return port_.get(); }

    // Switches to the named port: close, rename, open. Answers whether the
    // port is open afterwards; a failure is logged in one clear line.
    bool choosePort(const QString& name);
    bool isOpen() const { return port_ && port_->isOpen(); }
    void close();
    // Waits, at most timeoutMs, until what was written has left for the
    // line; answers false when bytes were still waiting.
    bool flush(int timeoutMs) { return port_ && port_->isOpen() ? port_->flush(timeoutMs) : false; }
    // After the boot monitor or the flashing tool had the line: boot probe
    // off, line back at "9600,n,8,1", port open again.
    void backToUnit();

    // Sends one frame as it is. On a closed port it only tries to open the
    // port again; the frame is then neither sent nor logged.
    void SendMsg(const QString& frame);
    // Writes a line that is not a unit frame (CO2 sensor lines): logged, no
    // reply time-out, the reply buffer untouched. On a closed port, opens it.
    void sendRaw(const QString& text);

    // The receive handler: the port calls it whenever characters arrive.
    void onReceive();
    // Called from the receive path whenever one or more complete replies
    // were cut; the fast link schedules the next frame from it. It must not
    // send from inside the call.
    std::function<void()> onReplyComplete;
    // Called whenever a frame or line is about to go out or characters came
    // in: a host whose clock rests while the line is quiet starts it again.
    std::function<void()> onActivity;
    // Nothing awaited and no reply waiting to be handed on.
    bool quiet() const { return awaited_.empty() && replies_.empty(); }

    // One complete reply cut from the line, with the number of frames that
    // had been sent when it was complete: it can answer only one of those.
    struct CutReply {
        QString text;
        quint64 sentBefore = 0;
    };
    // Every complete reply that arrived since the poll cycle last looked,
    // oldest first: several may arrive between two ticks, and none may
    // overwrite another before it was handled.
    std::optional<CutReply> takeReply();
    qsizetype pendingReplies() const { return static_cast<qsizetype>(replies_.size()); }

    // The frames sent and still awaited: not yet answered, not given up.
    // Each has a number; lastSent() is the number of the frame SendMsg last
    // wrote, 0 when it wrote nothing (closed port).
    quint64 lastSent() const { return lastSent_; }
    bool awaiting(quint64 frameNo) const;
    // The awaited frame this reply answers (oldest first, since the unit
    // answers in order), taken off the list; 0 when it answers none.
    quint64 claim(const CutReply& reply);
    // Gives up waiting for a frame (the poll cycle's time-out).
    void forget(quint64 frameNo);
    // The frame just sent left between two ticks: its reply gets one tick
    // more, so the time-out is never shorter than for a frame sent on a tick.
    void waitOneTickMore(quint64 frameNo);
    // One poll tick went by: frames awaited too long are given up.
    void ageAwaited();
    // A new line, a new unit, or the line handed to the CO2 sensor and
    // back: nothing received or sent before counts, and no frame sent
    // before is awaited any more (its reply could never reach the reply
    // path).
    void forgetExchange();

    // The last complete reply cut, and whether replies wait for the poll
    // cycle.
    QString RxMsg;
    bool ReplyReady = false;
    // Ticks left for the awaited reply; SendMsg sets 8.
    int MsgTimeout = 0;
    QByteArray RxBuffer;

    // Whether a send opens the port again after it went away (an adapter
    // plugged back in). A command-line run turns it off: it works on one
    // unit from start to end, and only choosing the port again reopens it.
    bool reopenAfterVanish = true;

    // While true, received characters are watched for the boot monitor's
    // answer (LF CR); seeing it sets BootFound and calls onBootFound.
    bool BootProbe = false;
    bool BootFound = false;
    std::function<void()> onBootFound;
    // Answers whether the monitor answered since the last ask, and forgets it.
    bool takeBootFound() {
        const bool found = BootFound;
        BootFound = false;
        return found;
    }
    // The monitor was found: stop watching for it and give the line free
    // (the flashing tool opens it next).
    void endBootProbe() {
        BootFound = false;
        BootProbe = false;
        close();
    }

    // While true, every received character goes to the CO2 sensor parser.
    bool Co2PassThrough = false;
    std::function<void(const QByteArray&)> co2Receive;
    // Ends the pass-through. SendMsg calls it before a unit frame goes out
    // while the pass-through is on: the frame would reach the sensor, and
    // the unit would stay passing the line through.
    std::function<void()> leavePassThrough;

    // One line for the status bar whenever the port state changes
    // (opened, failed, vanished, back).
    std::function<void(const QString&)> onStatus;

    LinkCounters counters;
    TrafficLog& log() { return log_; }
    // The last port problem in words; empty while the port is healthy.
    const QString& portProblem() const { return problem_; }

  private:
    bool tryOpen();
    void reportProblem(PortError error, const QString& detail);
    void setStatus(const QString& text);
    void discard(qsizetype n) { counters.charsDiscarded += static_cast<int>(n); }
    // Who the characters in RxBuffer were received for.
    enum class Route { Unit, Boot, Sensor };
    Route rxRoute_ = Route::Unit;
    void cutReplies();

    struct Awaited {
        QString frame;
        quint64 number = 0;
        int ticksLeft = 0;
    };
    std::deque<CutReply> replies_;
    std::deque<Awaited> awaited_;
    quint64 sentCount_ = 0;
    quint64 lastSent_ = 0;

    TrafficLog& log_;
    std::unique_ptr<SerialPort> port_;
    QString problem_;
    bool vanished_ = false;
};

} // namespace gp
