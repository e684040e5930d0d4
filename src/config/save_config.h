#pragma once
// The save of a ".cfg" file as the save window runs it: wait for the link to
// be idle, read every register, then ask for a file and write it. Driven by
// tick() from the window's timer; each tick does at most one step.

#include <QDate>
#include <QList>
#include <QString>

namespace gp {

class Link;
class Prompts;

struct DeviceState;

// The name a saved file is offered under: "<product>_<S/N or unique id>_<date>.cfg",
// with characters a file name should not hold replaced by "-".
QString suggestedConfigName(const DeviceState& state, const QDate& date);

struct BatchOutcome;

class SaveConfig {
  public:
    enum State : int { Done = 0, StartRead = 1, Reading = 2, ReadingStatus = 3, WaitIdle = 999 };
    // Reads of the whole bank before a save gives up on registers the unit
    // never answers: asking again forever (or answering yes from a script)
    // would never end.
    static constexpr int kMaxReads = 3;
    // After a read of the whole bank, a register whose reply was lost is
    // read again on its own this often before the engineer is asked (when
    // the unit answered the rest): a read changes nothing, and one late
    // reply must not cost the save.
    static constexpr int kRegisterRetries = 2;

    SaveConfig(Link& link, Prompts& prompts, bool saveAllNonvol);
    ~SaveConfig();
    SaveConfig(const SaveConfig&) = delete;
    SaveConfig& operator=(const SaveConfig&) = delete;

    void tick();
    // The engineer closed the window: the save is abandoned and its read,
    // if still running, stopped.
    void cancel();

    // The folder the file chooser offers the suggested name in; empty: no
    // suggestion.
    QString startFolder;
    // A name chosen without a suffix gets ".cfg" (the desktop's file
    // chooser); the command line writes exactly the name it was given.
    bool addMissingSuffix = false;

    int SaveState = WaitIdle;
    const QString& status() const { return status_; }
    bool finished() const { return SaveState == Done; }
    bool saved() const { return !savedPath_.isEmpty(); }
    const QString& savedPath() const { return savedPath_; }
    // Registers the last read got no answer for.
    const QList<int>& unreadRegisters() const { return unread_; }
    // Why nothing was saved, when nothing was; empty after a cancelled dialog.
    const QString& failure() const { return failure_; }

  private:
    void readEnded();
    void unreadOfTheWholeBank(const BatchOutcome& o);
    void askOrWrite();
    void readStatusThenWrite();
    void statusEnded();
    void writeFile();
    void release();

    Link& link_;
    Prompts& prompts_;
    bool saveAllNonvol_;
    int batchId_ = 0;
    int reads_ = 0;
    // The registers the batch in flight reads again, in its order; empty
    // while it is the read of the whole bank.
    QList<int> rereading_;
    int retries_ = 0;
    bool u05Lost_ = false;
    int statusReads_ = 0;
    bool holding_ = false;
    QString status_;
    QString savedPath_;
    QString failure_;
    QList<int> unread_;
};

} // namespace gp
