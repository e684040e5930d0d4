#include "flash/backup_restore.h"

#include "flash/firmware_backup.h"
#include "link/codec.h"
#include "link/link.h"
#include "unit/bulk_transfer.h"
#include "unit/logo_transfer.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

namespace gp {

namespace {

struct RestoreStepOf {
    BackupRestore::State state;
    int step;
    const char* activity;
};
constexpr RestoreStepOf kRestoreSteps[] = {
    {BackupRestore::Identify, 1, "Reading the unit"},
    {BackupRestore::Registers, 2, "Writing settings"},
    {BackupRestore::Logo, 3, "Writing the logo"},
    {BackupRestore::Burn, 4, "Storing settings"},
    {BackupRestore::Done, 4, "Done"},
    {BackupRestore::Failed, 0, "Stopped"},
};

} // namespace

int BackupRestore::stepNumber() const {
    for (const RestoreStepOf& s : kRestoreSteps)
        if (s.state == state_)
            return s.step;
    return 0;
}

QString BackupRestore::activity() const {
    for (const RestoreStepOf& s : kRestoreSteps)
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
    if (resent > 0)
        t +=
            QStringLiteral(" %1 register write(s) were sent again after a lost reply.").arg(resent);
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

void BackupRestore::writeRegisters(const QList<int>& regs) {
    QStringList frames;
    for (int r : regs)
        frames << BuildItemWrite(u'W', r, content_.registers[size_t(r)]);
    writing_ = regs;
    writingFrames_ = frames;
    batchId_ = link_.startBatch(frames, 0, 0, false);
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
        QList<int> all;
        for (int r = 1; r < 256; ++r)
            all << r;
        retries_ = 0;
        writeRegisters(all);
        state_ = Registers;
        return;
    }
    case Registers: {
        // Register 00 is never written; each write's "W" echo puts the value
        // the unit took into the cache. A register counts as confirmed only
        // when its write went out and was answered with the backup's value.
        const bool same = !stats.displaced;
        const QStringList missing = stats.missingFrames(writingFrames_);
        QList<int> unconfirmed;
        for (qsizetype i = 0; i < writing_.size(); ++i) {
            const int r = writing_[i];
            if (!same || missing.contains(writingFrames_[i]) ||
                st.RegCache[size_t(r)] != content_.registers[size_t(r)])
                unconfirmed << r;
        }
        // Sent again, twice at most: a register written twice holds what
        // it holds written once.
        if (!unconfirmed.isEmpty() && same && retries_ < kWriteRetries) {
            ++retries_;
            report_.resent += static_cast<int>(unconfirmed.size());
            writeRegisters(unconfirmed);
            return;
        }
        report_.writes = 255;
        report_.unconfirmed = unconfirmed;
        report_.confirmed = 255 - static_cast<int>(unconfirmed.size());
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

QString restoreQuestion(const QString& cfgPath, const flash::BackupContent& backup,
                        const QDateTime& saved, const QString& port, const DeviceState& unit) {
    const QString unitId = flash::uniqueIdOf(unit);
    const QString backupId =
        backup.uniqueId.isEmpty() ? QStringLiteral("a unit it does not name") : backup.uniqueId;
    QString onPort = unitId.isEmpty() ? QStringLiteral("the unit on %1 (not read yet)").arg(port)
                                      : QStringLiteral("the unit %1 on %2").arg(unitId, port);
    return QStringLiteral("Write the backup %1 of %2, saved %3, into %4?\n\nIts 255 settings%5 "
                          "replace what the unit holds now. A backup of another unit is refused "
                          "before anything is written.")
        .arg(QFileInfo(cfgPath).fileName(), backupId,
             QLocale::system().toString(saved, QLocale::ShortFormat), onPort,
             backup.logo ? QStringLiteral(" and its logo") : QString());
}

} // namespace gp
