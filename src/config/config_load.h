#pragma once
// Loading a ".cfg" file into the unit: check the whole file, take it into the
// cache, send the device settings, then tell which writes the unit confirmed.

#include "config/cfg_file.h"

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

    // Checks the file; only when it passes is it taken into the cache and the
    // device-settings batch started. A refused file changes nothing.
    CfgCheck start(const QString& path);
    // True once the started batch has ended (or was displaced).
    bool finished() const;
    LoadReport report() const;

  private:
    Link& link_;
    int batchId_ = 0;
    bool holding_ = false;
    QList<int> regs_;
    QList<int32_t> sent_;
};

} // namespace gp
