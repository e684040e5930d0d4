#include "flash/firmware_backup.h"
#include "unit/chips.h"

#include "link/codec.h"
#include "unit/cfg_file.h"
#include "unit/logo_transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace gp::flash {

namespace {

constexpr char kUniqueIdComment[] = "# Unique ID: ";

// Only letters and digits of the id reach the file name.
QString fileSafe(const QString& uid) {
    QString out;
    for (const QChar c : uid)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' ? c : QChar(u'_');
    return out.isEmpty() ? QStringLiteral("unknown") : out;
}

QString namePrefix(const QString& uid) {
    return QStringLiteral("unit-") + fileSafe(uid) + u'-';
}

} // namespace

// One folder for both front ends: a backup the command line made must be
// offered by the desktop tool, and the other way round, so the folder is not
// named after the program that runs.
QString defaultBackupFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/glimmerpane/backups");
}

QString uniqueIdOf(const DeviceState& state) {
    QStringList parts;
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        parts << state.IdentStrings[static_cast<size_t>(i)];
        any = any || !parts.last().isEmpty();
    }
    return any ? parts.join(u'-') : QString();
}

Result<Backup> writeBackup(const DeviceState& state, const QString& folder, const QDateTime& when) {
    if (!QDir().mkpath(folder)) {
        return fail(QStringLiteral("Cannot create the backup folder %1.").arg(folder));
    }
    const QString base = QDir(folder).filePath(namePrefix(uniqueIdOf(state)) +
                                               when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // The name is claimed by creating it, so that two units backed up in
    // the same second by one run (several ports at once) never share it.
    QString stem = base;
    for (int n = 2;; ++n) {
        QFile claim(stem + QStringLiteral(".cfg"));
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        if (!claim.exists() || n > 999) {
            return fail(QStringLiteral("Cannot create the backup %1: %2")
                            .arg(claim.fileName(), claim.errorString()));
        }
        stem = base + QStringLiteral("-%1").arg(n);
    }
    Backup b{stem + QStringLiteral(".cfg"), stem + QStringLiteral(".lgo")};
    // Every register as class "N", so that a restore writes them all back.
    Status written = writeCfgFile(b.cfg, cfgLines(state, true) + cfgCommentLines(state, when));
    if (written)
        written = writeLogoFile(b.lgo, state);
    if (!written) {
        QFile::remove(b.cfg); // the claim, or a backup without its logo
        return fail(written.error());
    }
    // Checked on disk: a backup that does not read back is no backup.
    const BackupContent check = readBackup(b.cfg, b.lgo);
    if (!check.ok() || check.registers != state.RegCache ||
        !std::equal(check.logo->begin(), check.logo->end(), state.LRegCache.begin())) {
        return fail(QStringLiteral("The backup %1 does not read back as written.").arg(b.cfg));
    }
    return b;
}

std::optional<Backup> newestBackup(const QString& folder, const QString& uniqueId) {
    if (uniqueId.isEmpty())
        return std::nullopt;
    const QString prefix = namePrefix(uniqueId);
    QStringList names = QDir(folder).entryList({prefix + QStringLiteral("*.cfg")}, QDir::Files);
    // The time stamp follows the id, so the names sort by time.
    const auto stamp = [&](const QString& n) { return n.mid(prefix.size(), 15); };
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        if (stamp(a) != stamp(b))
            return stamp(a) > stamp(b);
        return a.size() != b.size() ? a.size() > b.size() : a > b; // "-2" after the first
    });
    for (const QString& name : names) {
        if (name.size() < prefix.size() + 19)
            continue;
        const QString stem = QDir(folder).filePath(name.chopped(4));
        Backup b{stem + QStringLiteral(".cfg"), stem + QStringLiteral(".lgo")};
        if (!QFileInfo::exists(b.lgo))
            b.lgo.clear();
        return b;
    }
    return std::nullopt;
}

BackupContent readBackup(const QString& cfgPath, const QString& lgoPath) {
    BackupContent out;
    QFile f(cfgPath);
    if (!f.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("Cannot read %1: %2").arg(cfgPath, f.errorString());
        return out;
    }
    const QStringList lines = splitTextLines(f.readAll());
    if (lines.value(0) != QLatin1String("#CFG_Format=1")) {
        out.error = QStringLiteral("%1 is not a configuration file.").arg(cfgPath);
        return out;
    }
    static const QRegularExpression line(QStringLiteral("^N (\\d{1,3}) ([0-9A-Fa-f]{8})$"));
    std::array<bool, 256> seen{};
    for (const QString& l : lines) {
        if (l.startsWith(QLatin1String(kUniqueIdComment)))
            out.uniqueId = l.mid(int(sizeof(kUniqueIdComment)) - 1).trimmed();
        const auto m = line.match(l);
        if (!m.hasMatch())
            continue;
        const int r = m.captured(1).toInt();
        if (r > 255)
            continue;
        out.registers[static_cast<size_t>(r)] = ParseHexLong(m.captured(2));
        seen[static_cast<size_t>(r)] = true;
    }
    const auto missing = std::count(seen.begin(), seen.end(), false);
    if (missing > 0) {
        out.error = QStringLiteral("%1 lacks %2 of the 256 registers; it is not a backup of a "
                                   "whole unit. A firmware update writes whole backups itself; "
                                   "one of a unit that answers is saved with: glimmerpane-cli "
                                   "config save FILE --all-nonvol")
                        .arg(cfgPath)
                        .arg(missing);
        return out;
    }
    if (lgoPath.isEmpty())
        return out;
    const LogoFile logo = readLogoFile(lgoPath);
    if (!logo.ok()) {
        out.error = logo.error;
        return out;
    }
    std::array<int32_t, 128> words{};
    std::array<bool, 128> have{};
    for (const QString& frame : logo.frames) {
        // ":Lnn" + eight hex digits + "#"
        bool ok = false;
        const int w = frame.mid(2, 2).toInt(&ok, 16);
        if (!ok || w >= 128 || frame.size() != 13)
            continue;
        words[static_cast<size_t>(w)] = ParseHexLong(frame.mid(4, 8));
        have[static_cast<size_t>(w)] = true;
    }
    if (std::count(have.begin(), have.end(), false) > 0) {
        out.error = QStringLiteral("%1 does not hold all 128 logo words.").arg(lgoPath);
        return out;
    }
    out.logo = words;
    return out;
}

QString wayBackText(const std::optional<Backup>& backup) {
    if (!backup)
        return QStringLiteral("The unit may still be in its boot loader: power cycle it before "
                              "the next try.");
    const QString logoOption =
        backup->lgo.isEmpty() ? QString() : QStringLiteral(" --logo \"%1\"").arg(backup->lgo);
    return QStringLiteral(
               "The unit's settings and logo were saved before the update: %1%2. The way back: "
               "power cycle the unit, then either start the update again (it offers this "
               "backup) or run glimmerpane-cli firmware FILE --backup \"%3\"; or flash it in "
               "the low-level flash window and then write the backup back (File menu, "
               "\"Restore from backup\", or glimmerpane-cli restore \"%3\"%4).")
        .arg(backup->cfg, backup->lgo.isEmpty() ? QString() : QStringLiteral(" and ") + backup->lgo,
             backup->cfg, logoOption);
}

Status checkFirmwareImage(const QString& path, int32_t chipId) {
    const QFileInfo info(path);
    QFile f(path);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("The firmware image %1 cannot be read%2.")
                .arg(path, info.exists() ? QStringLiteral(": ") + f.errorString() : QString()));
    if (info.size() == 0)
        return fail(QStringLiteral("The firmware image %1 is empty.").arg(path));
    const int flash = unit::flashBytesOfChip(chipId);
    if (info.size() > flash)
        return fail(
            QStringLiteral("The firmware image %1 holds %2 bytes, more than the %3 bytes of "
                           "this unit's flash.")
                .arg(path)
                .arg(info.size())
                .arg(flash));
    return Status();
}

QString toolVersionFrom(const QStringList& helpLines) {
    for (const QString& l : helpLines)
        if (l.contains(QLatin1String("Version")))
            return l.trimmed();
    return QString();
}

} // namespace gp::flash
