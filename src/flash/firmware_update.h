#pragma once
// The guided firmware update: read every register and the logo, send the
// unit into its boot monitor, find the monitor on the line, run the flashing
// tool, wait for the new firmware, write the settings and the logo back,
// burn, reset and check register 01. A state machine with named states
// advanced by tick(); the window calls it at intervalMs(). Each state keeps
// the number the window has always shown beside its activity.
//
// Before ":SAMBA#" the run checks what could fail later with the unit in its
// boot loader: the image (readable, not empty, fits the chip's flash), the
// flashing tool (it starts and tells its version); and it saves the registers
// and the logo it read to a backup. A failure after ":SAMBA#" names that
// backup and the way back. A Start on a unit that does not answer (still in
// its boot loader after a run that did not end) offers its newest backup.
//
// The flashing tool runs asynchronously: the machine waits in Flashing while
// it runs, its lines go to the traffic log and its page counts to the
// progress bar. Every way out of a run leaves the link usable: port open at
// "9600,n,8,1", boot probe off.
//
// With the fast link (Link::fast() when the run starts) the machine wants a
// tick every 20 ms instead of every 200 ms or 1 s, so that it moves on as
// soon as a batch ends, and each fixed wait keeps its length in
// milliseconds. The waits whose end the unit signals by answering again
// (the new firmware starting, the pause before the settings go back, the
// reset before the read-back) end at its answer, at most after their fixed
// time; the waits that nothing signals (after the logo write, after the
// burn) stay as they are.

#include "flash/firmware_backup.h"
#include "flash/tool_run.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace gp {

struct AppContext;
class ProcessRunner;

class FirmwareUpdate {
  public:
    FirmwareUpdate(AppContext& ctx, ProcessRunner& runner);
    ~FirmwareUpdate();
    FirmwareUpdate(const FirmwareUpdate&) = delete;
    FirmwareUpdate& operator=(const FirmwareUpdate&) = delete;

    // "Start" begins a run; after success the button closes the window.
    // Answers true when the window should close.
    bool clickButton();
    void tick();

    // The run's states, each with the number the window shows.
    enum class State {
        Idle = 0,
        Failed = -1,   // shown once, then back to Idle
        Complete = -2, // "Update Complete"; the button says "Exit"
        Start = 1,
        ReadingUniqueId = 101,
        ReadingRegisters = 111,
        ReadingLogo = 2,
        ChoosingImage = 20,
        StartingToolCheck = 21,
        CheckingTool = 22,
        EnteringBootLoader = 3,
        ProbingBootMonitor = 4,
        Flashing = 5,
        Flashed = 51,
        ReopeningPort = 6,
        WaitingForFirmware = 7,
        PausingBeforeWriteBack = 700,
        WritingRegisters = 701,
        PausingAfterLogo = 702,
        Burning = 8,
        PausingAfterBurn = 801,
        Resetting = 9,
        WaitingForReset = 10,
        CheckingRegister01 = 11,
    };
    State state() const { return state_; }
    // The number shown for the state.
    int stateNumber() const { return static_cast<int>(state_); }
    // At rest: before a run, after a failed one (once its message was
    // shown) or after success.
    bool finished() const { return state_ == State::Idle || state_ == State::Complete; }
    bool succeeded() const { return state_ == State::Complete; }
    int intervalMs() const { return fast_ ? kFastIntervalMs : intervalMs_; }
    // The run's tick with the fast link: one poll period.
    static constexpr int kFastIntervalMs = 20;
    // True while a run paces itself for the fast link.
    bool fastRun() const { return fast_; }
    const QString& stepText() const { return stepText_; }
    // What the run is doing, in words, for beside the state number:
    // "Reading settings", "Flashing 45 %", "Writing settings back",
    // "Checking"; empty before a run.
    QString activity() const;
    // The run as numbered steps, for one overall progress line ("step 5 of
    // 8"): 0 before a run, then 1..kStepCount in the order of activity().
    static constexpr int kStepCount = 8;
    int stepNumber() const;
    const QString& buttonCaption() const { return caption_; }
    bool buttonEnabled() const { return enabled_; }
    bool toolRunning() const;
    // True while a run is under way: closing the window then needs a word
    // from the engineer, since the unit may be in its boot loader.
    bool runInProgress() const { return !finished(); }

    // "No Logo Write" of the main window.
    bool noLogo = false;

    // The engineer gave up on the flashing tool.
    void stopTool();
    // The window closes mid-run: stop the tool, put the link back.
    void abandon();

    // Where backups go, and the clock that names them.
    QString backupFolder = flash::defaultBackupFolder();
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // The backup to offer when the unit does not answer its first read;
    // unset, the newest backup of the unit last seen on this link.
    std::optional<flash::Backup> offeredBackup;
    // The backup of this run, once written (or the one it resumed from).
    const std::optional<flash::Backup>& backup() const { return backup_; }
    // The flashing tool's version line, once it was asked.
    const QString& toolVersion() const { return toolVersion_; }
    // True once the run has sent the unit into its boot loader.
    bool unitInBootLoader() const { return inBootLoader_; }

    // Registers and logo words whose write-back got no reply.
    const QStringList& unconfirmed() const { return unconfirmed_; }
    // Every line the flashing tool printed (also written to the traffic log).
    std::function<void(const QString&)> onToolLine;
    // ReopeningPort puts the window above all others.
    std::function<void()> makeTopMost;

    // A frame of the read before the boot loader whose reply was lost is
    // read again this often before the run gives up, sending nothing; a
    // register write of the write-back, sent again this often.
    static constexpr int kRetries = 2;

  private:
    void go(State state) { state_ = state; }
    // One function per phase of the run.
    void tickReading(bool answered, bool timedOut);
    void startRead(int batchId);
    bool readGotEverything();
    void tickChecks();
    void checkTool();
    void saveBackupAndEnterBootLoader();
    void tickBootLoader();
    void tickFlashing();
    void tickWaitingForFirmware(bool answered);
    void tickWriteBack(bool ended);
    void tickCheck(bool answered);
    void complete();
    void restoreLink();
    void startProbe();
    void oneFrame(const QString& frame);
    void fail(const QString& boxText);
    void noteLost(int batchId, const QString& what);
    void sendBootProbe();
    void startTool();
    void readFailed();
    void failInBootLoader(const QString& why, bool asMessage);
    void failUntouched(const QString& why);
    QString text(int id, const char* fallback) const;
    // Ticks of this run for a wait of count ticks of tickMs each.
    int ticksFor(int count, int tickMs) const {
        return fast_ ? count * tickMs / kFastIntervalMs : count;
    }
    // The countdown of a pause that nothing signals (after the logo write,
    // after the burn): the same length in both modes.
    int pauseTicks() const;
    // Fast link: a wait that the unit ends by answering status frames, at
    // most limitTicks ticks long. Over when two status frames in a row, both
    // sent during the wait, were answered: a single reply that comes late
    // (or was the acknowledgement of an earlier frame) cannot end it.
    void beginAnsweredWait(int limitTicks);
    bool answeredWaitOver();

    AppContext& ctx_;
    State state_ = State::Idle;
    int tickCount_ = 0;
    int countdown_ = 0;
    int intervalMs_ = 200;
    bool fast_ = false;
    int waitLimitTicks_ = 0;
    int waitPollBatch_ = 0; // the status batch of the wait in flight, 0: none
    // The read of the unit before the boot loader: its batch, the frames it
    // still lacks replies to, and how often they were read again.
    int readBatch_ = 0;
    QStringList readFrames_;
    int readRetries_ = 0;
    int waitAnswersInRow_ = 0;
    QString stepText_;
    QString doneSummary_;  // the firmware now running and the backup, once complete
    int flashPercent_ = 0; // the last percentage the flashing tool printed
    QString caption_;
    bool enabled_ = true;
    std::array<int32_t, 256> savedRegs_{};
    int32_t savedReg1_ = 0;
    QString firmwarePath_;
    std::optional<int> imageVersion_; // of the image chosen, when it carries one
    std::optional<flash::Backup> backup_;
    QString toolVersion_;
    bool inBootLoader_ = false;
    bool resumed_ = false; // the saved settings came from a backup
    bool backupHasLogo_ = true;
    QString previousUid_;
    int32_t previousChip_ = 0;

    // The flashing tool's run in state 5.
    flash::ToolRun tool_;
    bool stopRequested_ = false;

    int regBatchId_ = 0;
    QStringList regFrames_; // the register writes of regBatchId_
    int writeRetries_ = 0;
    int logoBatchId_ = 0;
    QStringList unconfirmed_;
};

} // namespace gp
