#include "config/config_load.h"

#include "link/codec.h"
#include "link/link.h"
#include "unit/bulk_transfer.h"

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

ConfigLoad::~ConfigLoad() {
    // A load still waiting for its read must not run after this is gone.
    if (!refused_ && batchId_ == 0 && link_.writes.pending())
        link_.writes.cancel();
    // Lets the live polls resume.
    if (holding_)
        link_.releaseTransfer();
}

CfgCheck ConfigLoad::start(const QString& path) {
    check_ = parseCfgFile(path);
    refused_ = false;
    batchId_ = 0;
    regs_.clear();
    sent_.clear();
    if (!check_.ok()) {
        refused_ = true;
        return check_;
    }
    // A live poll started when the write batch ends would displace it
    // before its end is seen; the polls pause until this load is done with.
    if (!holding_) {
        link_.holdForTransfer();
        holding_ = true;
    }
    // The cable may lead to a unit of another product than when 00 and 01
    // were last read: they are read again right before the check.
    const WriteStart w = link_.writes.request(
        {0, 1}, [this](DeviceState& state) { return compose(state); }, {0, 1},
        [this](const QString& why) {
            refused_ = true;
            if (check_.ok()) {
                check_.status = CfgCheck::NoAnswer;
                check_.message = why;
            }
        });
    if (w.refused()) {
        refused_ = true;
        if (check_.ok()) {
            check_.status = CfgCheck::NoAnswer;
            check_.message = w.refusal();
        }
    }
    return check_;
}

WriteBatch ConfigLoad::compose(DeviceState& state) {
    checkCfgProduct(check_, state);
    if (!check_.ok())
        return WriteBatch::refused(check_.message);
    applyCfg(state, check_.content);
    // Exactly the registers the file gives: a register the file leaves out
    // keeps whatever the unit holds.
    regs_ = cfgWriteRegisters(state, check_.content);
    WriteBatch b;
    for (int r : regs_) {
        sent_ << state.RegCache[static_cast<size_t>(r)];
        b.frames << BuildWrite(state, r);
    }
    b.frames << BuildSystem(QStringLiteral("U"));
    // The divisor counts the end entry too.
    b.divisor = static_cast<int>(b.frames.size()) + 1;
    b.started = [this](int id) { batchId_ = id; };
    return b;
}

bool ConfigLoad::finished() const {
    if (refused_)
        return true;
    if (batchId_ == 0)
        return !link_.writes.pending();
    const BatchOutcome o = link_.poll.outcome(batchId_);
    return o.displaced || o.finished || !link_.busy();
}

LoadReport ConfigLoad::report() const {
    LoadReport rep;
    rep.writes = static_cast<int>(regs_.size());
    const BatchOutcome o = link_.poll.outcome(batchId_);
    rep.interrupted = o.displaced || !o.finished;
    QStringList lost = o.lostFrames;
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
