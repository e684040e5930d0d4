#include "config/config_load.h"

#include "config/bulk_transfer.h"
#include "link/codec.h"
#include "link/link.h"

namespace gp {

QString LoadReport::text() const {
    QString t =
        QStringLiteral("The unit confirmed %1 of %2 register writes.").arg(confirmed).arg(writes);
    if (!unconfirmed.isEmpty()) {
        QStringList names;
        for (int r : unconfirmed)
            names << HexByte(r);
        t += QStringLiteral(" Not confirmed: %1.").arg(names.join(QStringLiteral(", ")));
    }
    if (interrupted)
        t += QStringLiteral(" The write was interrupted by another command.");
    else if (!settingsStored)
        t += QStringLiteral(" The unit did not confirm storing the settings (:SU#).");
    return t;
}

CfgCheck ConfigLoad::start(const QString& path) {
    CfgCheck check = readCfgFile(path, link_.state);
    if (!check.ok())
        return check;
    applyCfg(link_.state, check.content);
    regs_ = deviceSettingsRegisters(link_.state);
    sent_.clear();
    for (int r : regs_)
        sent_ << link_.state.RegCache[static_cast<size_t>(r)];
    // A live poll started when the write batch ends would displace it
    // before its end is seen; the polls pause until this load is done with.
    if (!holding_) {
        link_.holdForTransfer();
        holding_ = true;
    }
    WriteDeviceSettings(link_);
    batchId_ = link_.poll.stats().id;
    return check;
}

ConfigLoad::~ConfigLoad() {
    if (holding_)
        link_.releaseTransfer();
}

bool ConfigLoad::finished() const {
    if (batchId_ == 0)
        return true;
    const BatchStats& s = link_.poll.stats();
    return s.id != batchId_ || s.finished || !link_.busy();
}

LoadReport ConfigLoad::report() const {
    LoadReport rep;
    rep.writes = static_cast<int>(regs_.size());
    const BatchStats& s = link_.poll.stats();
    rep.interrupted = s.id != batchId_ || !s.finished;
    QStringList lost = s.id == batchId_ ? s.lostFrames : QStringList();
    for (int i = 0; i < regs_.size(); ++i) {
        const int r = regs_[i];
        const QString frame = BuildItemWrite(QLatin1Char('W'), r, sent_[i]);
        // The unit's "W" reply puts the value it took into the cache; a lost
        // reply or a different value is no confirmation.
        const bool echoed = !rep.interrupted && !lost.contains(frame) &&
                            link_.state.RegCache[static_cast<size_t>(r)] == sent_[i];
        if (echoed)
            ++rep.confirmed;
        else
            rep.unconfirmed << r;
    }
    rep.settingsStored = !rep.interrupted && !lost.contains(BuildSystem(QStringLiteral("U")));
    return rep;
}

} // namespace gp
