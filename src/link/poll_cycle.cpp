#include "link/poll_cycle.h"

namespace gp {

PollCycle::PollCycle(SerialLink& link, DeviceState& state, Progress& progress)
    : link_(link), state_(state), progress_(progress) {}

int PollCycle::startBatch(const QStringList& frames, int divisor, int firstEntry,
                          bool resetProgress) {
    if (frames.isEmpty() || firstEntry < 0 || firstEntry + frames.size() > kMaxFrames)
        return 0;
    if (sameFrames(frames, firstEntry)) {
        if (running())
            return stats_.id;
        if (abandonedPos_ >= 0 && link_.awaiting(awaited_)) {
            CmdQueuePos = abandonedPos_;
            abandonedPos_ = -1;
            if (resetProgress)
                progress_.SetProgress(static_cast<double>(CmdQueuePos) / CmdQueueLen, 0);
            return stats_.id;
        }
    }
    abandonedPos_ = -1;
    for (auto& e : CmdQueue)
        e.clear();
    for (int i = 0; i < frames.size(); ++i)
        CmdQueue[static_cast<size_t>(firstEntry + i)] = frames[i];
    CmdQueuePos = firstEntry;
    firstEntry_ = firstEntry;
    CmdQueueLen = divisor > 0 ? divisor : static_cast<int>(frames.size());
    stats_ = BatchStats{};
    stats_.id = nextId_++;
    stats_.frames = static_cast<int>(frames.size());
    if (resetProgress)
        progress_.SetProgress(0, 0);
    send(CmdQueue[static_cast<size_t>(firstEntry)]);
    return stats_.id;
}

bool PollCycle::sameFrames(const QStringList& frames, int firstEntry) const {
    if (stats_.id == 0 || stats_.frames != frames.size() || entry(firstEntry - 1) != QString())
        return false;
    for (int i = 0; i < frames.size(); ++i)
        if (entry(firstEntry + i) != frames[i])
            return false;
    return true;
}

void PollCycle::abandon() {
    if (running())
        abandonedPos_ = CmdQueuePos;
    CmdQueuePos = -1;
}

void PollCycle::send(const QString& frame) {
    link_.SendMsg(frame);
    awaited_ = link_.lastSent();
    if (betweenTicks_ && awaited_ != 0)
        link_.waitOneTickMore(awaited_);
}

void PollCycle::finishBatch(int endPos) {
    CmdQueuePos = endPos;
    stats_.finished = true;
    // A listener may start the next batch or unsubscribe: the others hear of
    // this batch as it ended.
    const BatchStats ended = stats_;
    const std::vector<Subscription> listeners = listeners_;
    for (const bool late : {false, true})
        for (const Subscription& s : listeners)
            if (s.afterOthers == late && s.listener)
                s.listener(ended, endPos == -1);
}

int PollCycle::subscribe(BatchListener listener, bool afterOthers) {
    const int token = nextToken_++;
    listeners_.push_back({token, afterOthers, std::move(listener)});
    return token;
}

void PollCycle::unsubscribe(int token) {
    std::erase_if(listeners_, [token](const Subscription& s) { return s.token == token; });
}

QString PollCycle::entry(int pos) const {
    return pos >= 0 && pos < kQueueSize ? CmdQueue[static_cast<size_t>(pos)] : QString();
}

void PollCycle::advance() {
    ++CmdQueuePos;
    progress_.SetProgress(static_cast<double>(CmdQueuePos) / CmdQueueLen, 0);
}

void PollCycle::batchAnswered(const QString& reply) {
    link_.MsgTimeout = 0;
    ++stats_.answered;
    stats_.lastAnswer = reply;
    advance();
    const QString next = entry(CmdQueuePos);
    if (!next.isEmpty()) {
        send(next);
        return;
    }
    awaited_ = 0;
    progress_.SetProgress(1.0, 0);
    finishBatch(-1);
}

void PollCycle::advanceNow() {
    if (Timer1Flag)
        return;
    Timer1Flag = true;
    // Between two ticks: a frame sent now gets one tick more, so that its
    // time-out, counted by the ticks alone, is never shorter than when it
    // leaves on a tick.
    betweenTicks_ = true;
    dispatchReplies();
    betweenTicks_ = false;
    Timer1Flag = false;
}

// A write's exact echo that came after its time-out: the unit took the write
// after all, so the frame of the batch counts as answered late, not lost. A
// late read is not taken: its value may be older than what the cache holds.
void PollCycle::confirmLateEcho(const QString& reply) {
    if (reply.size() < 4 || (reply.at(1) != u'W' && reply.at(1) != u'L'))
        return;
    const QString frame = u':' + reply.mid(1);
    const qsizetype i = stats_.lostFrames.indexOf(frame);
    if (i < 0)
        return;
    stats_.lostFrames.removeAt(i);
    stats_.lostEntries.erase(stats_.lostEntries.begin() + i);
    --stats_.lost;
    ++stats_.answered;
    ++stats_.lateEchoes;
}

void PollCycle::tick() {
    if (Timer1Flag)
        return;
    Timer1Flag = true;
    ++ticks_;
    const bool batchMoved = dispatchReplies();
    countDown(batchMoved);
    link_.ageAwaited();
    Timer1Flag = false;
}

bool PollCycle::dispatchReplies() {
    bool batchMoved = false;
    while (const auto reply = link_.takeReply()) {
        const quint64 frameNo = link_.claim(*reply);
        if (frameNo == 0) {
            // A reply to a frame given up, a damaged one or line noise: it
            // is not the unit's answer to anything we wait for.
            ++link_.counters.repliesStale;
            confirmLateEcho(reply->text);
            continue;
        }
        DispatchReply(state_, reply->text);
        ++link_.counters.repliesDispatched;
        if (frameNo != awaited_) {
            // The answer to a frame sent on its own; the batch, if one runs,
            // still waits for its own.
            if (!running()) {
                link_.MsgTimeout = 0;
                CmdQueuePos = -1;
            }
            continue;
        }
        // The batch's frame is answered. An abandoned batch stays abandoned.
        abandonedPos_ = -1;
        // A zero divisor means no batch was ever started: nothing to advance.
        if (!running() || CmdQueuePos > kQueueSize - 1) {
            link_.MsgTimeout = 0;
            CmdQueuePos = -1;
            awaited_ = 0;
            continue;
        }
        batchMoved = true;
        batchAnswered(reply->text);
    }
    return batchMoved;
}

void PollCycle::countDown(bool batchMoved) {
    if (!batchMoved && link_.MsgTimeout >= 0) {
        --link_.MsgTimeout;
        if (link_.MsgTimeout <= 0 && running() && CmdQueuePos <= kQueueSize - 1) {
            // A frame never sent (closed port) is counted as not sent.
            if (awaited_ != 0)
                ++link_.counters.repliesLost;
            ++stats_.lost;
            stats_.lostEntries.push_back(CmdQueuePos);
            stats_.lostFrames.append(CmdQueue[static_cast<size_t>(CmdQueuePos)]);
            // A reply that comes after this is too late to be its answer.
            link_.forget(awaited_);
            awaited_ = 0;
            advance();
            if (const QString next = entry(CmdQueuePos); !next.isEmpty()) {
                send(next);
            } else {
                progress_.SetProgress(0, 2);
                finishBatch(-2);
            }
        }
    }
}

std::vector<int> BatchOutcome::missingEntries(int frameCount) const {
    std::vector<int> out;
    const int from = displaced ? 0 : unsentFrom;
    for (int e = 0; e < frameCount; ++e) {
        const bool lost = std::find(lostEntries.begin(), lostEntries.end(), e) != lostEntries.end();
        if ((from >= 0 && e >= from) || (!displaced && lost))
            out.push_back(e);
    }
    return out;
}

QStringList BatchOutcome::missingFrames(const QStringList& frames) const {
    QStringList out;
    for (int e : missingEntries(static_cast<int>(frames.size())))
        if (!out.contains(frames.at(e)))
            out << frames.at(e);
    return out;
}

BatchOutcome PollCycle::outcome(int batchId) const {
    BatchOutcome o;
    o.id = batchId;
    if (batchId == 0 || batchId != stats_.id) {
        o.displaced = true;
        o.unsentFrom = 0;
        return o;
    }
    o.finished = stats_.finished;
    o.lastReplyLost = stats_.finished && CmdQueuePos == -2;
    o.answered = stats_.answered;
    o.lostEntries = stats_.lostEntries;
    o.lostFrames = stats_.lostFrames;
    if (!stats_.finished)
        o.unsentFrom = qMax(0, CmdQueuePos);
    return o;
}

QStringList PollCycle::batchFrames() const {
    QStringList out;
    for (int e = firstEntry_; e < kQueueSize && !CmdQueue[size_t(e)].isEmpty(); ++e)
        out << CmdQueue[size_t(e)];
    return out;
}

} // namespace gp
