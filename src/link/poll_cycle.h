#pragma once
// The clock of the exchange with the unit. Every 20 ms tick hands the
// replies that arrived to the dispatcher and sends the next frame of the
// running batch, or counts down the reply time-out and moves on past a lost
// reply. The batch moves on only on the reply that answers its frame in
// flight; a reply that answers no awaited frame is stale: counted, never
// stored. Whoever wants to hear of a batch's end subscribes.

#include "link/device_state.h"
#include "link/progress.h"
#include "link/serial_link.h"

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <vector>

namespace gp {

// What happened to the frames of one batch. Counted beyond the plain queue
// position so that a caller that needs certainty can ask.
struct BatchStats {
    int id = 0;                   // increases with every batch started
    int frames = 0;               // frames the batch holds
    int answered = 0;             // replies dispatched while the batch ran
    int lost = 0;                 // frames given up after the time-out
    std::vector<int> lostEntries; // queue entries whose reply was lost
    QStringList lostFrames;       // and their frames
    int lateEchoes = 0;           // writes given up, then confirmed by their late echo
    bool finished = false;        // reached its end entry (pos -1 or -2)
    QString lastAnswer;           // the reply that answered its latest frame
};

// What became of one batch, asked by its id: the one answer every command
// and view uses to decide what it read and what it lost. Entries are queue
// entries: the batch's frames in send order, counted from the entry it
// started at (0 for most batches).
struct BatchOutcome {
    int id = 0;
    // Another batch was started after it (or it never started): nothing is
    // known of its frames, so each counts as not answered.
    bool displaced = false;
    bool finished = false;      // reached its end entry
    bool lastReplyLost = false; // ... and the reply to its last frame was lost
    int answered = 0;
    std::vector<int> lostEntries; // entries whose reply was lost
    QStringList lostFrames;       // and their frames
    // The first entry that was never sent, or whose reply was still awaited
    // when the batch stopped short of its end: -1 when it reached its end.
    int unsentFrom = -1;
    // Every entry of frameCount that did not get its reply, ascending, each
    // once: the lost ones and those from unsentFrom on.
    std::vector<int> missingEntries(int frameCount) const;
    // Of frames (the batch's own, in send order), those without a reply.
    QStringList missingFrames(const QStringList& frames) const;
    // Ended at its end entry with every reply.
    bool complete() const { return !displaced && finished && lostEntries.empty(); }
};

class PollCycle {
  public:
    static constexpr int kQueueSize = 261;
    static constexpr int kMaxFrames = 260;
    static constexpr int kTickMs = 20;

    PollCycle(SerialLink& link, DeviceState& state, Progress& progress);

    // One 20 ms tick.
    void tick();
    // The fast link: called between ticks once the reply to the frame in
    // flight is complete (and the unit's turnaround has passed). Hands the
    // replies that arrived to the dispatcher and sends the next frame of the
    // batch, exactly as a tick would, but counts no time: reply time-outs
    // are counted by the ticks alone, so they keep their length.
    void advanceNow();

    // The one way to start a batch: fills the queue from entry firstEntry on,
    // puts the empty end entry behind the frames, sets the position and the
    // progress divisor (the frame count when divisor <= 0), resets the
    // progress bar unless told not to, and sends the first frame. Answers the
    // batch id, or 0 when the frames do not fit the queue (nothing is sent).
    // The same frames as the batch that runs (or was abandoned just now and
    // still waits for its frame's reply) are that batch: it goes on and its
    // id is answered, so the unit is not asked everything twice.
    int startBatch(const QStringList& frames, int divisor = 0, int firstEntry = 0,
                   bool resetProgress = true);

    // Abandons the running batch: its remaining entries are never sent,
    // unless the very same batch is asked for again while the reply to its
    // frame is still awaited (then it goes on where it stood).
    void abandon();
    bool running() const { return CmdQueuePos >= 0 && CmdQueueLen != 0; }
    // Where the queue stands, for the guided runs that pace themselves on
    // it: no batch in flight (the last one ended or was given up), the last
    // one ended on the reply to its last frame (or was given up), or it ended
    // without that reply.
    bool queueAtRest() const { return CmdQueuePos < 0; }
    bool lastBatchAnswered() const { return CmdQueuePos == -1; }
    bool lastBatchLostItsLastReply() const { return CmdQueuePos < -1; }

    std::array<QString, kQueueSize> CmdQueue;
    int CmdQueuePos = 0;
    int CmdQueueLen = 0;
    bool Timer1Flag = false;

    // Hears of every batch end: its counts, and whether it ended on the
    // reply to its last frame (completed) or without it.
    using BatchListener = std::function<void(const BatchStats&, bool completed)>;
    // Listeners run in the order they subscribed; those that subscribed with
    // afterOthers run behind the rest (what a view does on completion may
    // start the next batch, so whoever counts the batch hears of it first).
    // Answers a token for unsubscribe().
    int subscribe(BatchListener listener, bool afterOthers = false);
    void unsubscribe(int token);

    const BatchStats& stats() const { return stats_; }
    // What became of the batch with this id.
    BatchOutcome outcome(int batchId) const;
    // True when the batch with this id has stopped: ended at its end entry,
    // ended short of it, or displaced by another.
    bool ended(int batchId) const { return batchId != stats_.id || !running(); }
    // The frames the running (or last) batch holds, in send order.
    QStringList batchFrames() const;
    // The entry the running (or last) batch started at.
    int batchFirstEntry() const { return firstEntry_; }
    int tickCount() const { return ticks_; }
    // A tick now would do nothing but count: no batch runs, nothing is
    // awaited or waiting to be handed on, and the time-out has run out.
    bool atRest() const { return !running() && link_.quiet() && link_.MsgTimeout < 0; }
    // Counts ticks that passed while the host's clock rested, the cycle at
    // rest all the while (the same as running that many ticks then). The
    // host calls it as it wakes, which may be from inside the start of the
    // batch that ends the rest.
    void restedTicks(int n) {
        if (n > 0)
            ticks_ += n;
    }

  private:
    // Answers whether the batch moved on a reply.
    bool dispatchReplies();
    void confirmLateEcho(const QString& reply);
    // The reply time-out of the frame in flight, one tick of it.
    void countDown(bool batchMoved);
    void advance();
    QString entry(int pos) const;
    void finishBatch(int endPos);
    void send(const QString& frame);
    void batchAnswered(const QString& reply);
    bool sameFrames(const QStringList& frames, int firstEntry) const;

    SerialLink& link_;
    DeviceState& state_;
    Progress& progress_;
    BatchStats stats_;
    int nextId_ = 1;
    int firstEntry_ = 0;
    struct Subscription {
        int token;
        bool afterOthers;
        BatchListener listener;
    };
    std::vector<Subscription> listeners_;
    int nextToken_ = 1;
    int ticks_ = 0;
    // The number the link gave the batch's frame in flight (0: none sent).
    quint64 awaited_ = 0;
    // Where an abandoned batch stood while its frame is still awaited.
    int abandonedPos_ = -1;
    // True while advanceNow() runs.
    bool betweenTicks_ = false;
};

} // namespace gp
