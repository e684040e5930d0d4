#pragma once
// Loading a ".cfg" file into the unit: check the whole file, take it into the
// cache, send the device settings, then tell which writes the unit confirmed.
//
// A register write sets a value, so sending it twice does no harm: a write
// whose reply was lost (or came too late, after its time-out) is sent again,
// at most kWriteRetries times, before the load gives up on it. ":SU#" goes out
// once, after the writes; it is never sent again on its own. With verify, every
// register written is read back afterwards and compared with what was meant.

#include "link/poll_cycle.h"
#include "link/write_gate.h"
#include "unit/cfg_file.h"

#include <QList>
#include <QSet>
#include <QString>
#include <functional>

namespace gp {

class Link;
class Persist;

// "Verify after load" as the settings file keeps it (VERIFYLOAD=1).
bool verifyAfterLoad(Persist& persist);
void setVerifyAfterLoad(Persist& persist, bool on);

struct LoadReport {
    int writes = 0;              // register writes sent
    int confirmed = 0;           // answered with a "W" echo of the value sent
    QList<int> unconfirmed;      // registers without a matching echo
    int resent = 0;              // writes sent again after a lost reply
    bool settingsStored = false; // ":SU#" answered
    bool interrupted = false;    // another batch took the link
    bool verified = false;       // read back (asked for, and it ran)
    QList<int> differing;        // read back with another value than written
    QList<int> notReadBack;      // whose read-back got no reply
    QString fileNotes;           // registers the file gives, lines skipped or given twice
    // The frames whose answer the load lacks: writes unconfirmed, ":SU#",
    // read-backs unanswered.
    QStringList lostFrames;
    // Every write confirmed, the settings stored, and (when verified) every
    // register read back as written.
    bool ok() const {
        return unconfirmed.isEmpty() && settingsStored && !interrupted && differing.isEmpty() &&
               notReadBack.isEmpty();
    }
    QString text() const;
};

class ConfigLoad {
  public:
    static constexpr int kWriteRetries = 2;

    explicit ConfigLoad(Link& link) : link_(link) {}
    // Lets the live polls resume (they pause while the load runs).
    ~ConfigLoad();
    ConfigLoad(const ConfigLoad&) = delete;
    ConfigLoad& operator=(const ConfigLoad&) = delete;

    // Reads the file and checks its form; a refused file changes nothing and
    // sends nothing. When it passes, registers 00 and 01 are read from the
    // unit (two frames) and the product is checked against them; only then is
    // the file taken into the cache and the registers it gives written.
    // adjust, when given, changes the file's content before anything else
    // (a site plan puts a unit's own bus settings in place of a template's);
    // the registers of alsoWrite that the content gives are written too,
    // whatever their class (the comms register is no device setting).
    CfgCheck start(const QString& path, bool verify = false,
                   const std::function<void(CfgContent&)>& adjust = {},
                   const QList<int>& alsoWrite = {});
    // The registers the load writes, ascending; empty until it composed.
    const QList<int>& writtenRegisters() const { return regs_; }
    // True once the load is over: done (writes, the writes sent again, ":SU#"
    // and the read-back, each started as the batch before it ends),
    // displaced by another batch, or refused after the read.
    bool finished() const;
    // The state of the check: Ok until the product check refused the file or
    // the unit did not answer the read of 00 and 01.
    const CfgCheck& check() const { return check_; }
    LoadReport report() const;

  private:
    enum class Phase { Writing, Storing, Verifying, Done };
    WriteBatch compose(DeviceState& state);
    // A batch ended: the next one starts at once, so that nothing else takes
    // the line in between.
    void batchEnded(int id);
    // The write batch just ended: the registers whose reply was lost.
    QList<int> writesLost(const BatchOutcome& o);
    void startWrites(const QList<int>& regs);
    void startStore();
    void verifyEnded(const BatchOutcome& o);
    int32_t sentValue(int reg) const { return sent_.value(regs_.indexOf(reg)); }

    Link& link_;
    CfgCheck check_;
    bool refused_ = false;
    bool verify_ = false;
    QList<int> alsoWrite_;
    int batchId_ = 0;
    bool holding_ = false;
    Phase phase_ = Phase::Writing;
    QList<int> regs_;
    QList<int32_t> sent_;
    QList<int> batchRegs_; // the registers the write batch in flight sends
    QList<int> confirmed_;
    int retries_ = 0;
    QSet<QString> readBack_; // read-back frames answered
    int subscription_ = 0;
    LoadReport report_;
};

} // namespace gp
