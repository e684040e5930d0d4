#include "platform/serial_port.h"

#include <QStringList>

namespace gp {

QString LineSettings::text() const {
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QChar(parity)).arg(dataBits).arg(stopBits);
}

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok1 = false, ok2 = false, ok3 = false;
    s.baud = parts[0].trimmed().toInt(&ok1);
    const QString parity = parts[1].trimmed().toLower();
    s.dataBits = parts[2].trimmed().toInt(&ok2);
    s.stopBits = parts[3].trimmed().toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || s.baud <= 0 || parity.size() != 1 ||
        !QStringLiteral("neoms").contains(parity) || s.dataBits < 5 || s.dataBits > 8 ||
        (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    s.parity = parity[0].toLatin1();
    return s;
}

QString describePortError(const QString& port, PortError error, const QString& detail) {
    QString reason;
    switch (error) {
    case PortError::None:
        return QString();
    case PortError::NotFound:
        reason = QStringLiteral("the port does not exist");
        break;
    case PortError::Busy:
        // The detail names the holder when its lock file says who it is.
        reason = detail.isEmpty() || !detail.contains(QStringLiteral("(PID "))
                     ? QStringLiteral("the port is in use by another program")
                     : QStringLiteral("the port is in use by another program: %1").arg(detail);
        break;
    case PortError::PermissionDenied:
        reason = QStringLiteral("permission denied (your user must be allowed to open serial "
                                "devices, usually by membership of the 'dialout' group; log in "
                                "again after adding it)");
        break;
    case PortError::Vanished:
        reason = QStringLiteral("the port went away (adapter unplugged?)");
        break;
    case PortError::Other:
        reason = detail.isEmpty() ? QStringLiteral("unknown error") : detail;
        break;
    }
    return QStringLiteral("Port %1: %2").arg(port, reason);
}

} // namespace gp
