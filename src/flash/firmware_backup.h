#pragma once
// The backup a firmware update takes before the unit enters its boot loader:
// every register as a ".cfg" file (all lines class "N") and the logo as a
// ".lgo" file of write frames, named after the unit's unique id and the time,
// in the user's data folder. It is what brings a unit back whose flashing
// did not end well.

#include "link/device_state.h"
#include "platform/result.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace gp::flash {

struct Backup {
    QString cfg;
    QString lgo;
};

// <per-user data folder>/backups.
QString defaultBackupFolder();
// The unit's unique id as the Device view shows it ("0A1B2C3D-..."); empty
// while no part of it is known.
QString uniqueIdOf(const DeviceState& state);

// Writes RegCache and LRegCache 0..127 of the state, each file atomically.
// The names hold the unique id and the time: "unit-<id>-<yyyyMMdd-HHmmss>".
// Answers the files, or fails with why.
Result<Backup> writeBackup(const DeviceState& state, const QString& folder, const QDateTime& when);
// The newest backup of the unit with this unique id in the folder.
std::optional<Backup> newestBackup(const QString& folder, const QString& uniqueId);

struct BackupContent {
    std::array<int32_t, 256> registers{};
    std::optional<std::array<int32_t, 128>> logo; // when a logo file was given
    QString uniqueId;                             // from the file's comment line
    QString error;                                // why the backup is refused
    bool ok() const { return error.isEmpty(); }
};
// Reads a backup; the .cfg must hold all 256 registers, the .lgo (optional,
// empty path for none) all 128 logo words.
BackupContent readBackup(const QString& cfgPath, const QString& lgoPath);

// What the engineer reads after an update failed with the unit in its boot
// loader: where the backup is and the way back.
QString wayBackText(const std::optional<Backup>& backup);

// Pre-flight checks before the unit is sent into its boot loader.
// Fails, saying why, unless the image can be flashed into that chip.
Status checkFirmwareImage(const QString& path, int32_t chipId);
// The version line of the flashing tool's help text, empty when none.
QString toolVersionFrom(const QStringList& helpLines);

} // namespace gp::flash
