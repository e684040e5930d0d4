#pragma once
// "Restore from backup": writes a firmware update's backup (every register
// and the logo) into the unit it was taken from, burns it, and reports which
// writes the unit confirmed, as a configuration load does. Used after an
// update that did not end: the unit was power-cycled and flashed again, and
// its settings are gone.
//
// The unit is read first (unique id, registers 00 and 01): a backup of
// another unit is refused. A state machine with named states advanced by
// tick().

#include "flash/firmware_backup.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace gp {

class Link;

struct RestoreReport {
    int writes = 0;
    int confirmed = 0;
    QList<int> unconfirmed; // registers without a matching echo
    int logoWrites = 0;
    int logoConfirmed = 0;
    QList<int> logoUnconfirmed;
    bool settingsStored = false; // ":SP#" answered
    int resent = 0;              // register writes sent again after a lost reply
    QString text() const;
    bool complete() const {
        return unconfirmed.isEmpty() && logoUnconfirmed.isEmpty() && settingsStored;
    }
};

class BackupRestore {
  public:
    explicit BackupRestore(Link& link) : link_(link) {}

    // Reads the backup; answers why it is refused (nothing is sent then), or
    // an empty text and starts the run.
    QString start(const QString& cfgPath, const QString& lgoPath);
    void tick();
    int intervalMs() const { return 200; }

    enum State { Idle, Identify, Registers, Logo, Burn, Done, Failed };
    // A register write whose reply was lost is sent again this often.
    static constexpr int kWriteRetries = 2;
    State state() const { return state_; }
    bool finished() const { return state_ == Done || state_ == Failed; }
    bool succeeded() const { return state_ == Done && report_.complete(); }
    // The run as numbered steps (1..kStepCount, 0 outside a run) and what
    // it does there, in words.
    static constexpr int kStepCount = 4;
    int stepNumber() const;
    QString activity() const;
    // What the run does now, or why it failed.
    const QString& stepText() const { return stepText_; }
    const RestoreReport& report() const { return report_; }

  private:
    void writeRegisters(const QList<int>& regs);
    void fail(const QString& why);

    Link& link_;
    State state_ = Idle;
    flash::BackupContent content_;
    int batchId_ = 0;
    QStringList writingFrames_; // the register writes the batch holds, in order
    QList<int> writing_;        // and their registers
    int retries_ = 0;
    QString stepText_;
    RestoreReport report_;
};

// The question asked before a backup is written into a unit: the backup
// (its unit and when it was saved) and the unit on the port, as far as it is
// known; what is overwritten.
QString restoreQuestion(const QString& cfgPath, const flash::BackupContent& backup,
                        const QDateTime& saved, const QString& port, const DeviceState& unit);

} // namespace gp
