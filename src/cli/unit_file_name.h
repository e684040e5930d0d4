#pragma once
// File names per unit: a FILE argument may hold {port}, {uid} or {sn}, so
// that the same command run on several units at once gives each unit a file
// of its own (and one unit on one port gets a file named after it).

#include "platform/result.h"

#include <QString>
#include <optional>

namespace gp::cli {

// What the placeholders stand for; an empty value is not known (yet).
struct UnitNames {
    QString port; // the port as given: "ttyUSB0", "/dev/ttyUSB0"
    QString uid;  // the unit's unique id, as the identity shows it
    QString sn;   // the serial number, "Q-48225"; empty when the unit has none
};

// True when the text holds at least one of {port}, {uid}, {sn}.
bool hasUnitPlaceholder(const QString& text);
// True when the text holds {uid} or {sn}: known only after the identity read.
bool needsIdentity(const QString& text);

// Letters, digits, '-', '_' and '.' stay; everything else (a '/', a space, a
// control character) becomes '_', and a leading '.' too, so that a value can
// neither leave the folder nor hide the file.
QString fileSafe(const QString& text);
// The port's base name, file-name safe: "/dev/ttyUSB0" gives "ttyUSB0".
QString portFileName(const QString& port);

// The text with each placeholder replaced by its file-safe value. A
// placeholder whose value is not known fails, saying which.
Result<QString> expandUnitPlaceholders(const QString& text, const UnitNames& names);

} // namespace gp::cli
