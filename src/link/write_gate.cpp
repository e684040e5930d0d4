#include "link/write_gate.h"

#include "link/codec.h"
#include "link/frame_kind.h"
#include "link/poll_cycle.h"
#include "link/traffic_log.h"

namespace gp {

QString registerNames(const QList<int>& regs) {
    QStringList names;
    for (int r : regs)
        names << HexByte(r);
    return names.join(QStringLiteral(", "));
}

QString registerRanges(const QList<int>& regs) {
    QStringList runs;
    for (qsizetype i = 0; i < regs.size();) {
        qsizetype j = i;
        while (j + 1 < regs.size() && regs[j + 1] == regs[j] + 1)
            ++j;
        runs << (j == i ? HexByte(regs[i])
                        : HexByte(regs[i]) + QStringLiteral("..") + HexByte(regs[j]));
        i = j + 1;
    }
    return QStringLiteral("%1 (%2 register%3)")
        .arg(runs.join(QStringLiteral(", ")))
        .arg(regs.size())
        .arg(regs.size() == 1 ? QString() : QStringLiteral("s"));
}

WriteGate::WriteGate(PollCycle& poll, DeviceState& state, TrafficLog& log)
    : poll_(poll), state_(state), log_(log) {}

WriteStart WriteGate::request(const QList<int>& needed, WriteComposer compose,
                              const QList<int>& fresh, RefusalHandler refused) {
    resending_.reset();
    if (pending_) {
        Pending earlier = std::move(*pending_);
        pending_.reset();
        refuse(QStringLiteral("Another write was asked for before registers %1 were read; "
                              "nothing was written.")
                   .arg(registerNames(earlier.needed)),
               earlier.refused);
    }
    QList<int> toRead = fresh;
    for (int r : state_.unknownOf(needed))
        if (!toRead.contains(r))
            toRead << r;
    if (toRead.isEmpty())
        return this->compose(compose);
    QStringList reads;
    for (int r : toRead)
        reads << BuildRead(r);
    WriteStart start;
    start.readBatchId = poll_.startBatch(reads);
    if (start.readBatchId == 0) {
        start.status = fail(QStringLiteral("Registers %1 could not be read; nothing was written.")
                                .arg(registerNames(toRead)));
        return start;
    }
    QList<int> all = needed;
    for (int r : fresh)
        if (!all.contains(r))
            all << r;
    pending_ = Pending{all, std::move(compose), std::move(refused), start.readBatchId};
    return start;
}

WriteStart WriteGate::compose(const WriteComposer& compose) {
    WriteStart start;
    const WriteBatch batch = compose(state_);
    if (!batch.status) {
        start.status = batch.status;
        return start;
    }
    QStringList frames = batch.frames;
    QStringList tail;
    if (batch.resendLost) {
        qsizetype w = 0;
        while (w < frames.size() && IsRegisterWrite(frames[w]))
            ++w;
        tail = frames.mid(w);
        frames = frames.first(w);
        if (frames.isEmpty())
            std::swap(frames, tail);
    }
    start.batchId = poll_.startBatch(frames, batch.divisor, batch.firstEntry);
    if (start.batchId != 0 && batch.resendLost)
        // Frames without a write among them go once, as the tail does.
        resending_ = Resending{
            start.batchId, tail, 0, 0, {}, frames.isEmpty() || !IsRegisterWrite(frames.first())};
    if (start.batchId == 0)
        start.status =
            fail(QStringLiteral("The write does not fit the queue; nothing was written."));
    else if (batch.started)
        batch.started(start.batchId);
    return start;
}

void WriteGate::refuse(const QString& why, const RefusalHandler& handler) {
    log_.AddLog(why);
    if (handler)
        handler(why);
    else if (onRefused)
        onRefused(why);
}

void WriteGate::resendTick() {
    const BatchStats& stats = poll_.stats();
    if (stats.id == resending_->batchId && poll_.running())
        return;
    Resending r = std::move(*resending_);
    resending_.reset();
    if (stats.id != r.batchId)
        return; // another command took the link; it says so itself
    if (r.inTail) {
        // ":SU#" and the like: never sent again, named when unanswered.
        r.unconfirmed << stats.lostFrames;
        written(r);
        return;
    }
    QStringList lost;
    for (const QString& f : stats.lostFrames)
        if (IsRegisterWrite(f))
            lost << f;
    // A register written twice holds what it holds written once.
    if (!lost.isEmpty() && r.retries < kWriteRetries) {
        log_.AddLog(QStringLiteral("Sending %1 write(s) again after a lost reply: %2")
                        .arg(lost.size())
                        .arg(lost.join(QLatin1Char(' '))));
        resent_ += static_cast<int>(lost.size());
        r.resent += static_cast<int>(lost.size());
        ++r.retries;
        r.batchId = poll_.startBatch(lost, 0, 0, false);
        if (r.batchId != 0) {
            resending_ = std::move(r);
            return;
        }
    }
    r.unconfirmed = lost;
    if (!r.tail.isEmpty()) {
        r.batchId = poll_.startBatch(r.tail, 0, 0, false);
        r.inTail = true;
        r.tail.clear();
        if (r.batchId != 0) {
            resending_ = std::move(r);
            return;
        }
    }
    written(r);
}

void WriteGate::written(const Resending& r) {
    if (!r.unconfirmed.isEmpty())
        log_.AddLog(QStringLiteral("The unit did not confirm: %1")
                        .arg(r.unconfirmed.join(QLatin1Char(' '))));
    if (onWritten)
        onWritten(r.unconfirmed, r.resent);
}

void WriteGate::tick() {
    if (resending_)
        resendTick();
    if (!pending_)
        return;
    const BatchStats& stats = poll_.stats();
    if (stats.id == pending_->readBatchId && poll_.running())
        return;
    Pending p = std::move(*pending_);
    pending_.reset();
    if (stats.id != p.readBatchId) {
        refuse(QStringLiteral("Another command took the link before registers %1 were read; "
                              "nothing was written.")
                   .arg(registerNames(p.needed)),
               p.refused);
        return;
    }
    // A lost reply leaves its register unknown; the write would have to guess.
    QList<int> missing;
    for (int r : p.needed)
        if (!state_.known(r) || stats.lostFrames.contains(BuildRead(r)))
            missing << r;
    if (!missing.isEmpty() && p.readsAgain < kReadsAgain) {
        QStringList reads;
        for (int r : missing)
            reads << BuildRead(r);
        if (const int id = poll_.startBatch(reads); id != 0) {
            log_.AddLog(QStringLiteral("Reading registers %1 again: the reply was lost.")
                            .arg(registerNames(missing)));
            p.readBatchId = id;
            ++p.readsAgain;
            pending_ = std::move(p);
            return;
        }
    }
    if (!missing.isEmpty()) {
        refuse(QStringLiteral("The unit did not answer the read of registers %1; nothing was "
                              "written.")
                   .arg(registerNames(missing)),
               p.refused);
        return;
    }
    const WriteStart start = compose(p.compose);
    if (start.refused())
        refuse(start.refusal(), p.refused);
}

} // namespace gp
