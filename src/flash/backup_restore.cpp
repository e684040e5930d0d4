#include "flash/backup_restore.h"

#include "link/codec.h"
#include "link/link.h"
#include "unit/bulk_transfer.h"
#include "unit/logo_transfer.h"

namespace gp {

namespace {

struct StepOf {
    BackupRestore::State state;
    int step;
    const char* activity;
};
constexpr StepOf kSteps[] = {
    {BackupRestore::Identify, 1, "Reading the unit"},
    {BackupRestore::Registers, 2, "Writing settings"},
    {BackupRestore::Logo, 3, "Writing the logo"},
    {BackupRestore::Burn, 4, "Storing settings"},
    {BackupRestore::Done, 4, "Done"},
    {BackupRestore::Failed, 0, "Stopped"},
};

} // namespace

int BackupRestore::stepNumber() const {
    for (const StepOf& s : kSteps)
        if (s.state == state_)
            return s.step;
    return 0;
}

QString BackupRestore::activity() const {
    for (const StepOf& s : kSteps)
        if (s.state == state_)
            return QString::fromLatin1(s.activity);
    return QString();
}

QString RestoreReport::text() const {
    QString t =
        QStringLiteral("The unit confirmed %1 of %2 register writes.").arg(confirmed).arg(writes);
    if (!unconfirmed.isEmpty())
        t += QStringLiteral(" Not confirmed: %1.").arg(registerNames(unconfirmed));
    if (logoWrites > 0) {
        t += QStringLiteral(" The unit confirmed %1 of %2 logo words.")
                 .arg(logoConfirmed)
                 .arg(logoWrites);
        if (!logoUnconfirmed.isEmpty())
            t += QStringLiteral(" Not confirmed: %1.").arg(registerNames(logoUnconfirmed));
    }
    if (!settingsStored)
        t += QStringLiteral(" The unit did not confirm storing the settings (:SP#).");
    return t;
}

QString BackupRestore::start(const QString& cfgPath, const QString& lgoPath) {
    content_ = flash::readBackup(cfgPath, lgoPath);
    if (!content_.ok())
        return content_.error;
    report_ = {};
    stepText_ = QStringLiteral("Reading the unit....");
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << BuildItemRead(u'U', i);
    frames << BuildRead(0) << BuildRead(1);
    batchId_ = link_.startBatch(frames);
    state_ = Identify;
    return QString();
}

void BackupRestore::fail(const QString& why) {
    stepText_ = why;
    state_ = Failed;
}

void BackupRestore::tick() {
    const BatchOutcome stats = link_.poll.outcome(batchId_);
    const bool ended = stats.displaced || stats.finished || !link_.busy();
    if (state_ == Idle || finished() || !ended)
        return;
    DeviceState& st = link_.state;
    switch (state_) {
    case Identify: {
        if (stats.displaced || !stats.lostEntries.empty()) {
            fail(QStringLiteral("The unit does not answer. If it is in its boot loader, power "
                                "cycle it and flash its firmware first."));
            return;
        }
        const QString uid = flash::uniqueIdOf(st);
        if (!content_.uniqueId.isEmpty() && uid != content_.uniqueId) {
            fail(QStringLiteral("This backup belongs to the unit %1; the connected unit is %2. "
                                "Nothing was written.")
                     .arg(content_.uniqueId, uid));
            return;
        }
        // Every register of the backup is known, as taken from a file: the
        // write sends them all.
        for (int r = 0; r < 256; ++r)
            st.setRegister(r, content_.registers[size_t(r)], ValueSource::File);
        stepText_ = QStringLiteral("Writing Settings....");
        batchId_ = WriteAllRegisters(link_).batchId;
        // What the batch holds: a register counts as confirmed only when its
        // write went out and was answered.
        sentFrames_.clear();
        for (const QString& frame : link_.poll.batchFrames())
            sentFrames_.insert(frame);
        state_ = Registers;
        return;
    }
    case Registers: {
        // Register 00 is never written; each write's "W" echo puts the value
        // the unit took into the cache.
        const bool same = !stats.displaced;
        for (int r = 1; r < 256; ++r) {
            ++report_.writes;
            const QString frame = BuildItemWrite(u'W', r, content_.registers[size_t(r)]);
            if (same && sentFrames_.contains(frame) && !stats.lostFrames.contains(frame) &&
                st.RegCache[size_t(r)] == content_.registers[size_t(r)])
                ++report_.confirmed;
            else
                report_.unconfirmed << r;
        }
        if (content_.logo) {
            std::copy(content_.logo->begin(), content_.logo->end(), st.LRegCache.begin());
            stepText_ = QStringLiteral("Writing Logo....");
            batchId_ = WriteLogo(link_);
            state_ = Logo;
            return;
        }
        [[fallthrough]];
    }
    case Logo:
        if (state_ == Logo) {
            const bool same = !stats.displaced;
            for (int w = 0; w < kLogoWords; ++w) {
                ++report_.logoWrites;
                if (same && !stats.lostFrames.contains(BuildLWrite(st, w)))
                    ++report_.logoConfirmed;
                else
                    report_.logoUnconfirmed << w;
            }
        }
        stepText_ = QStringLiteral("Storing Settings....");
        batchId_ = link_.startBatch({BuildSystem(QStringLiteral("P"))});
        state_ = Burn;
        return;
    case Burn:
        report_.settingsStored = !stats.displaced && stats.lostEntries.empty();
        stepText_ = report_.text();
        state_ = Done;
        return;
    default:
        return;
    }
}

} // namespace gp
