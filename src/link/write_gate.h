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
    WriteGate(PollCycle& poll, DeviceState& state, TrafficLog& log);

    // Composes and starts the write once every register of `needed` is
    // known; the registers of `fresh` are read first in any case. A refusal
    // after the read goes to `refused`, or to onRefused when none is given.
    using RefusalHandler = std::function<void(const QString&)>;
    WriteStart request(const QList<int>& needed, WriteComposer compose,
                       const QList<int>& fresh = {}, RefusalHandler refused = {});
    // Runs after every poll tick: a write waiting for its read goes on.
    void tick();
    bool pending() const { return pending_.has_value(); }
    // Drops a write still waiting for its read.
    void cancel() { pending_.reset(); }

    // A deferred write was refused (the read lost replies, or another batch
    // took the link); the message names the registers.
    RefusalHandler onRefused;

  private:
    WriteStart compose(const WriteComposer& compose);
    void refuse(const QString& why, const RefusalHandler& handler);

    struct Pending {
        QList<int> needed;
        WriteComposer compose;
        RefusalHandler refused;
        int readBatchId = 0;
    };
    PollCycle& poll_;
    DeviceState& state_;
    TrafficLog& log_;
    std::optional<Pending> pending_;
};

} // namespace gp
