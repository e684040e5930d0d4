#pragma once
// Loading a ".cfg" file into the unit: check the whole file, take it into the
// cache, send the device settings, then tell which writes the unit confirmed.

#include "link/write_gate.h"
#include "unit/cfg_file.h"

#include <QList>
#include <QString>

namespace gp {

class Link;

struct LoadReport {
    int writes = 0;              // register writes sent
    int confirmed = 0;           // answered with a "W" echo of the value sent
    QList<int> unconfirmed;      // registers without a matching echo
    bool settingsStored = false; // ":SU#" answered
    bool interrupted = false;    // another batch took the link
    QString text() const;
};

class ConfigLoad {
  public:
    explicit ConfigLoad(Link& link) : link_(link) {}
    // Lets the live polls resume (they pause while the load runs).
    ~ConfigLoad();
    ConfigLoad(const ConfigLoad&) = delete;
    ConfigLoad& operator=(const ConfigLoad&) = delete;

    // Reads the file and checks its form; a refused file changes nothing and
    // sends nothing. When it passes, registers 00 and 01 are read from the
    // unit (two frames) and the product is checked against them; only then is
    // the file taken into the cache and the registers it gives written.
    CfgCheck start(const QString& path);
    // True once the write has ended (or was displaced), or the load was
    // refused after the read.
    bool finished() const;
    // The state of the check: Ok until the product check refused the file or
    // the unit did not answer the read of 00 and 01.
    const CfgCheck& check() const { return check_; }
    LoadReport report() const;

  private:
    WriteBatch compose(DeviceState& state);

    Link& link_;
    CfgCheck check_;
    bool refused_ = false;
    int batchId_ = 0;
    bool holding_ = false;
    QList<int> regs_;
    QList<int32_t> sent_;
};

} // namespace gp
