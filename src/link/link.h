#pragma once
// The one exchange with the unit: device state, serial link, traffic log,
// progress bar and poll cycle, wired together. The main window owns one and
// hands it by reference to whatever talks to the unit; so does the
// command-line front end.

#include "link/device_state.h"
#include "link/poll_cycle.h"
#include "link/progress.h"
#include "link/serial_link.h"
#include "link/traffic_log.h"
#include "link/write_gate.h"

namespace gp {

// The fast link as the settings file gives it: "FASTLINK" on ("1", "true",
// "yes", "on") or off, and "FASTLINKGAP" the unit's turnaround in ms
// (0..100). A value that makes no sense leaves the default and says why in
// `note`: the setting is never refused, since the link works either way.
struct FastLinkSetting {
    bool on = false;
    int gapMs = 2;
    QString note;
};
FastLinkSetting fastLinkSetting(const QString& fastLink, const QString& gapMs);

class Link {
  public:
    Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    DeviceState state;
    TrafficLog log;
    Progress progress;
    SerialLink serial;
    PollCycle poll;
    WriteGate writes;

    void tick() {
        // Fast link: a reply is in and its advance is due within the gap. A
        // tick now would send the next frame inside the unit's turnaround, so
        // this one tick leaves the poll cycle to the advance (it counts no
        // time-out either: a reply is there). The next tick runs in any case.
        if (fast_ && advanceScheduled_ && !tickLeftToAdvance_) {
            tickLeftToAdvance_ = true;
            writes.tick();
            return;
        }
        tickLeftToAdvance_ = false;
        poll.tick();
        writes.tick();
    }

    // The fast link (off by default): the next frame of a batch leaves as
    // soon as the reply to the frame in flight is complete and the unit's
    // turnaround (fastGapMs) has passed, instead of at the next tick. The
    // link holds no clock: when a reply is complete it asks the host,
    // through scheduleAdvance, to call advanceNow() after the gap. The
    // ticks go on as before and count the reply time-outs.
    static constexpr int kDefaultFastGapMs = 2;
    void setFast(bool on, int gapMs = kDefaultFastGapMs);
    bool fast() const { return fast_; }
    int fastGapMs() const { return fastGapMs_; }
    std::function<void(int gapMs)> scheduleAdvance;
    void advanceNow() {
        advanceScheduled_ = false;
        tickLeftToAdvance_ = false;
        poll.advanceNow();
        writes.tick();
    }
    // Hands the line to the boot monitor's probe: the port opens again (its
    // unit settings first), then at the monitor's speed `monitorSettings`;
    // the batch in flight is given up, and received characters are watched
    // for the monitor's answer.
    void startBootProbe(const QString& monitorSettings);
    // The engineer's choice of port. Another line may lead to another unit,
    // so every cached register is forgotten.
    bool choosePort(const QString& name);
    // Shorthands used everywhere.
    void SendMsg(const QString& frame) { serial.SendMsg(frame); }
    void AddLog(const QString& line) { log.AddLog(line); }
    void SetProgress(double fraction, int mode) { progress.SetProgress(fraction, mode); }
    int startBatch(const QStringList& frames, int divisor = 0, int firstEntry = 0,
                   bool resetProgress = true) {
        return poll.startBatch(frames, divisor, firstEntry, resetProgress);
    }
    // Nothing for a tick to do until a frame is sent or characters come:
    // the desktop lets its clock rest then (SerialLink::onActivity starts it
    // again), and counts the ticks that passed with restedTicks().
    bool atRest() const { return poll.atRest() && !writes.pending() && !advanceScheduled_; }
    // True while a batch runs (the queue position is at an entry) or a
    // write waits for its read.
    bool busy() const { return poll.running() || writes.pending(); }

    // A transfer (a .cfg save or load) holds the link while it runs: the
    // live polls start no batch then, since a poll would displace the
    // transfer's batch or keep the link from ever being idle. When the last
    // hold ends, onTransferEnded lets the polls resume.
    void holdForTransfer() { ++transferHolds_; }
    void releaseTransfer() {
        if (transferHolds_ > 0 && --transferHolds_ == 0 && onTransferEnded)
            onTransferEnded();
    }
    bool transferHeld() const { return transferHolds_ > 0; }
    std::function<void()> onTransferEnded;

  private:
    void replyComplete();

    int transferHolds_ = 0;
    bool fast_ = false;
    int fastGapMs_ = kDefaultFastGapMs;
    bool advanceScheduled_ = false;
    bool tickLeftToAdvance_ = false;
};

} // namespace gp
