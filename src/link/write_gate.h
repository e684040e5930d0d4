#pragma once
// The one door for register writes built from the cache: a write goes out
// only when every register it needs is known (read from this unit, taken
// from a file or entered by the engineer). When some are not, one read batch
// fetches them first and the write is composed after it; when that read
// cannot deliver them, the write is refused with the registers named.

#include "link/device_state.h"
#include "platform/result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace gp {

class PollCycle;
class TrafficLog;

// What a composer answers: the frames and how to start their batch, or why
// nothing can be sent.
struct WriteBatch {
    QStringList frames;
    int divisor = 0;
    int firstEntry = 0;
    Status status; // failed: nothing is sent
    // Told the id of the write batch once it has started.
    std::function<void(int)> started;
    // The register writes (":W" frames) whose reply is lost are sent again,
    // at most twice; frames after the writes (":SU#" and the like, whose
    // effect repeats) follow in a batch of their own once the writes are
    // done with, and are never sent again.
    bool resendLost = false;
    static WriteBatch refused(const QString& why) {
        WriteBatch b;
        b.status = fail(why);
        return b;
    }
};
using WriteComposer = std::function<WriteBatch(DeviceState&)>;

// What happened when a write was asked for.
struct WriteStart {
    int batchId = 0;     // the write batch, when it started at once
    int readBatchId = 0; // the read batch it waits for, when it reads first
    Status status;       // failed: refused at once, nothing was sent
    bool refused() const { return !status; }
    const QString& refusal() const { return status.error(); }
};

// "00, 1A, 20": register numbers as the unit names them.
QString registerNames(const QList<int>& regs);
// "00..1F, 24, 30..FF (62 registers)": runs of consecutive registers joined,
// for lists too long to read one by one.
QString registerRanges(const QList<int>& regs);

class WriteGate {
  public:
    // A read whose reply was lost (late on a busy machine or a long cable)
    // is sent again, at most this often, before the write is refused: a
    // read repeats without harm.
    static constexpr int kReadsAgain = 2;
    WriteGate(PollCycle& poll, DeviceState& state, TrafficLog& log);

    // Composes and starts the write once every register of `needed` is
    // known; the registers of `fresh` are read first in any case. A refusal
    // after the read goes to `refused`, or to onRefused when none is given.
    using RefusalHandler = std::function<void(const QString&)>;
    WriteStart request(const QList<int>& needed, WriteComposer compose,
                       const QList<int>& fresh = {}, RefusalHandler refused = {});
    // Runs after every poll tick: a write waiting for its read goes on.
    void tick();
    bool pending() const { return pending_.has_value() || resending_.has_value(); }
    // Drops a write still waiting for its read or for its lost replies.
    void cancel() {
        pending_.reset();
        resending_.reset();
    }
    static constexpr int kWriteRetries = 2;
    // Writes sent again after a lost reply, since the gate was made.
    int resent() const { return resent_; }

    // A deferred write was refused (the read lost replies, or another batch
    // took the link); the message names the registers.
    RefusalHandler onRefused;
    // A write that resends lost replies is done with: the writes the unit
    // never confirmed (empty: every one), and how many were sent again.
    std::function<void(const QStringList& unconfirmed, int resent)> onWritten;

  private:
    WriteStart compose(const WriteComposer& compose);
    void refuse(const QString& why, const RefusalHandler& handler);
    void resendTick();

    struct Pending {
        QList<int> needed;
        WriteComposer compose;
        RefusalHandler refused;
        int readBatchId = 0;
        int readsAgain = 0; // reads of registers whose reply was lost, so far
    };
    PollCycle& poll_;
    DeviceState& state_;
    TrafficLog& log_;
    std::optional<Pending> pending_;
    // A write whose lost replies are sent again, with what follows it.
    struct Resending {
        int batchId = 0;
        QStringList tail;
        int retries = 0;
        int resent = 0;
        QStringList unconfirmed;
        bool inTail = false; // the frames after the writes, sent once
    };
    void written(const Resending& r);
    std::optional<Resending> resending_;
    int resent_ = 0;
};

} // namespace gp
