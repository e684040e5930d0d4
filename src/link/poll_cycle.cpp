#include "link/poll_cycle.h"

namespace gp {

PollCycle::PollCycle(SerialLink& link, DeviceState& state, Progress& progress)
    : link_(link), state_(state), progress_(progress) {}

int PollCycle::startBatch(const QStringList& frames, int divisor, int firstEntry,
                          bool resetProgress) {
    if (frames.isEmpty() || firstEntry < 0 || firstEntry + frames.size() > kMaxFrames)
        return 0;
    for (auto& e : CmdQueue)
        e.clear();
    for (int i = 0; i < frames.size(); ++i)
        CmdQueue[static_cast<size_t>(firstEntry + i)] = frames[i];
    CmdQueuePos = firstEntry;
    CmdQueueLen = divisor > 0 ? divisor : static_cast<int>(frames.size());
    stats_ = BatchStats{};
    stats_.id = nextId_++;
    stats_.frames = static_cast<int>(frames.size());
    if (resetProgress)
        progress_.SetProgress(0, 0);
    link_.SendMsg(CmdQueue[static_cast<size_t>(firstEntry)]);
    return stats_.id;
}

void PollCycle::finishBatch(int endPos) {
    CmdQueuePos = endPos;
    stats_.finished = true;
    if (onBatchEnded)
        onBatchEnded(stats_);
}

QString PollCycle::entry(int pos) const {
    return pos >= 0 && pos < kQueueSize ? CmdQueue[static_cast<size_t>(pos)] : QString();
}

void PollCycle::advance() {
    ++CmdQueuePos;
    progress_.SetProgress(static_cast<double>(CmdQueuePos) / CmdQueueLen, 0);
}

void PollCycle::tick() {
    if (Timer1Flag)
        return;
    Timer1Flag = true;
    ++ticks_;
    if (link_.ReplyReady) {
        DispatchReply(state_, link_.RxMsg);
        ++link_.counters.repliesDispatched;
        link_.ReplyReady = false;
        link_.MsgTimeout = 0;
        // A zero divisor means no batch was ever started: nothing to advance.
        if (CmdQueuePos < 0 || CmdQueuePos > kQueueSize - 1 || CmdQueueLen == 0) {
            CmdQueuePos = -1;
        } else {
            ++stats_.answered;
            advance();
            const QString next = entry(CmdQueuePos);
            if (!next.isEmpty()) {
                link_.SendMsg(next);
            } else {
                progress_.SetProgress(1.0, 0);
                finishBatch(-1);
                const bool suppressed = completionSuppressed && completionSuppressed();
                if (!suppressed && ActiveTab >= 0 && ActiveTab <= 5) {
                    if (const auto& step = completion[static_cast<size_t>(ActiveTab)])
                        step();
                }
            }
        }
    } else if (link_.MsgTimeout >= 0) {
        --link_.MsgTimeout;
        if (link_.MsgTimeout <= 0 && CmdQueuePos >= 0 && CmdQueuePos <= kQueueSize - 1 &&
            CmdQueueLen != 0) {
            ++link_.counters.repliesLost;
            ++stats_.lost;
            stats_.lostEntries.push_back(CmdQueuePos);
            stats_.lostFrames.append(CmdQueue[static_cast<size_t>(CmdQueuePos)]);
            advance();
            if (const QString next = entry(CmdQueuePos); !next.isEmpty()) {
                link_.SendMsg(next);
            } else {
                progress_.SetProgress(0, 2);
                finishBatch(-2);
            }
        }
    }
    Timer1Flag = false;
}

} // namespace gp
