#include "config/config_load.h"

#include "app/persist.h"
#include "link/codec.h"
#include "link/link.h"
#include "unit/bulk_transfer.h"

namespace gp {

namespace {
constexpr char kVerifyKey[] = "VERIFYLOAD";
} // namespace

bool verifyAfterLoad(Persist& persist) {
    return persist.ReadIniValue(QString::fromLatin1(kVerifyKey)).value_or(QString()) ==
           QLatin1String("1");
}

void setVerifyAfterLoad(Persist& persist, bool on) {
    persist.WriteIniValue(QString::fromLatin1(kVerifyKey),
                          on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString LoadReport::text() const {
    QString t = fileNotes.isEmpty() ? QString() : fileNotes + QLatin1Char(' ');
    t += QStringLiteral("The unit confirmed %1 of %2 register writes.").arg(confirmed).arg(writes);
    if (resent > 0)
        t += QStringLiteral(" %1 write(s) were sent again after their reply was lost.").arg(resent);
    if (!unconfirmed.isEmpty())
        t += QStringLiteral(" Not confirmed: %1.").arg(registerNames(unconfirmed));
    if (interrupted)
        t += QStringLiteral(" The write was interrupted by another command.");
    else if (!settingsStored)
        t += QStringLiteral(" The unit did not confirm storing the settings (:SU#).");
    if (verified) {
        if (differing.isEmpty() && notReadBack.isEmpty())
            t += QStringLiteral(" Read back: every register written holds its value.");
        if (!differing.isEmpty())
            t += QStringLiteral(" Read back differs from the file for: %1.")
                     .arg(registerNames(differing));
        if (!notReadBack.isEmpty())
            t += QStringLiteral(" Not read back (no reply): %1.").arg(registerNames(notReadBack));
    }
    return t;
}

ConfigLoad::~ConfigLoad() {
    if (subscription_ != 0)
        link_.poll.unsubscribe(subscription_);
    // A load still waiting for its read must not run after this is gone.
    if (!refused_ && batchId_ == 0 && link_.writes.pending())
        link_.writes.cancel();
    // Lets the live polls resume.
    if (holding_)
        link_.releaseTransfer();
}

CfgCheck ConfigLoad::start(const QString& path, bool verify,
                           const std::function<void(CfgContent&)>& adjust,
                           const QList<int>& alsoWrite) {
    alsoWrite_ = alsoWrite;
    check_ = parseCfgFile(path);
    if (check_.ok() && adjust)
        adjust(check_.content);
    refused_ = false;
    verify_ = verify;
    batchId_ = 0;
    phase_ = Phase::Writing;
    regs_.clear();
    sent_.clear();
    confirmed_.clear();
    readBack_.clear();
    retries_ = 0;
    report_ = {};
    if (subscription_ == 0)
        subscription_ =
            link_.poll.subscribe([this](const BatchStats& s, bool) { batchEnded(s.id); });
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
    regs_ = cfgWriteRegisters(state, check_.content, alsoWrite_);
    WriteBatch b;
    for (int r : regs_) {
        sent_ << state.RegCache[static_cast<size_t>(r)];
        b.frames << BuildWrite(state, r);
    }
    batchRegs_ = regs_;
    if (regs_.isEmpty()) {
        // Nothing to write: the settings are stored all the same.
        b.frames << BuildSystem(QStringLiteral("U"));
        phase_ = Phase::Storing;
    }
    // The divisor counts ":SU#" and the end entry too.
    b.divisor = static_cast<int>(b.frames.size()) + 2;
    b.started = [this](int id) { batchId_ = id; };
    return b;
}

QList<int> ConfigLoad::writesLost(const BatchOutcome& o) {
    QList<int> lost;
    for (int r : batchRegs_) {
        const QString frame = BuildItemWrite(QLatin1Char('W'), r, sentValue(r));
        // The unit's "W" reply puts the value it took into the cache; a lost
        // reply or a different value is no confirmation. Only a lost reply
        // is worth sending again: a unit that took another value would take
        // it again.
        if (o.lostFrames.contains(frame))
            lost << r;
        else if (link_.state.RegCache[static_cast<size_t>(r)] == sentValue(r) &&
                 !confirmed_.contains(r))
            confirmed_ << r;
    }
    return lost;
}

void ConfigLoad::startWrites(const QList<int>& regs) {
    QStringList frames;
    for (int r : regs)
        frames << BuildItemWrite(QLatin1Char('W'), r, sentValue(r));
    batchRegs_ = regs;
    report_.resent += static_cast<int>(regs.size());
    link_.log.AddLog(QStringLiteral("Sending %1 write(s) again after a lost reply: %2")
                         .arg(regs.size())
                         .arg(registerNames(regs)));
    batchId_ = link_.startBatch(frames, 0, 0, false);
}

void ConfigLoad::startStore() {
    phase_ = Phase::Storing;
    batchRegs_.clear();
    batchId_ = link_.startBatch({BuildSystem(QStringLiteral("U"))}, 0, 0, false);
}

void ConfigLoad::batchEnded(int id) {
    if (id == 0 || id != batchId_ || refused_ || phase_ == Phase::Done)
        return;
    const BatchOutcome o = link_.poll.outcome(id);
    switch (phase_) {
    case Phase::Writing: {
        const QList<int> lost = writesLost(o);
        if (!lost.isEmpty() && retries_ < kWriteRetries) {
            ++retries_;
            startWrites(lost);
        } else {
            startStore();
        }
        return;
    }
    case Phase::Storing:
        report_.settingsStored = o.lostEntries.empty();
        if (verify_ && !regs_.isEmpty()) {
            QStringList reads;
            for (int r : regs_)
                reads << BuildRead(r);
            phase_ = Phase::Verifying;
            report_.verified = true;
            retries_ = 0;
            batchId_ = link_.startBatch(reads, 0, 0, false);
            return;
        }
        phase_ = Phase::Done;
        return;
    case Phase::Verifying:
        // A read-back whose reply was lost is read again, as any read is.
        if (!o.lostFrames.isEmpty() && retries_ < kWriteRetries) {
            ++retries_;
            for (const QString& frame : link_.poll.batchFrames())
                if (!o.lostFrames.contains(frame))
                    readBack_ << frame;
            batchId_ = link_.startBatch(o.lostFrames, 0, 0, false);
            return;
        }
        verifyEnded(o);
        phase_ = Phase::Done;
        return;
    case Phase::Done:
        return;
    }
}

void ConfigLoad::verifyEnded(const BatchOutcome& o) {
    for (const QString& frame : link_.poll.batchFrames())
        if (!o.lostFrames.contains(frame))
            readBack_ << frame;
    for (int r : regs_) {
        if (!readBack_.contains(BuildRead(r)))
            report_.notReadBack << r;
        else if (link_.state.RegCache[static_cast<size_t>(r)] != sentValue(r))
            report_.differing << r;
    }
}

bool ConfigLoad::finished() const {
    if (refused_ || phase_ == Phase::Done)
        return true;
    if (batchId_ == 0)
        return !link_.writes.pending();
    // Displaced by another batch, or given up on.
    return link_.poll.outcome(batchId_).displaced || !link_.busy();
}

LoadReport ConfigLoad::report() const {
    LoadReport rep = report_;
    rep.writes = static_cast<int>(regs_.size());
    rep.fileNotes = check_.notes();
    rep.interrupted = batchId_ == 0 || phase_ != Phase::Done;
    for (int r : regs_) {
        if (!rep.interrupted && confirmed_.contains(r))
            ++rep.confirmed;
        else
            rep.unconfirmed << r;
    }
    if (rep.interrupted)
        rep.settingsStored = false;
    for (int r : rep.unconfirmed)
        rep.lostFrames << BuildItemWrite(QLatin1Char('W'), r, sentValue(r));
    if (!rep.settingsStored)
        rep.lostFrames << BuildSystem(QStringLiteral("U"));
    for (int r : rep.notReadBack)
        rep.lostFrames << BuildRead(r);
    return rep;
}

} // namespace gp
