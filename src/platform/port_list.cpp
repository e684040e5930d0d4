#include "platform/port_list.h"

#include "platform/qt_serial_port.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>
#include <algorithm>
#include <unistd.h>

namespace gp {

void sortPortEntries(QList<PortEntry>& ports) {
    QCollator collator;
    collator.setNumericMode(true);
    std::stable_sort(ports.begin(), ports.end(), [&](const PortEntry& a, const PortEntry& b) {
        if (a.usb != b.usb)
            return a.usb;
        return collator.compare(a.name, b.name) < 0;
    });
}

QList<PortEntry> ListPorts(bool evenUnopenable) {
    QList<PortEntry> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortEntry e;
        e.name = info.portName();
        e.usb = info.hasVendorIdentifier() || e.name.contains(QStringLiteral("USB")) ||
                e.name.contains(QStringLiteral("ACM"));
        QStringList parts;
        for (const QString& p : {info.manufacturer(), info.description(), info.serialNumber()})
            if (!p.trimmed().isEmpty())
                parts << p.trimmed();
        e.description = parts.join(QStringLiteral(", "));
        // Built-in ttyS ports are listed whether or not hardware is behind
        // them; only those that open are worth offering.
        if (!e.usb && !QtSerialPort::PortExists(info.systemLocation()) &&
            !(evenUnopenable &&
              ::access(QFile::encodeName(info.systemLocation()).constData(), R_OK | W_OK) != 0))
            continue;
        out.append(e);
    }
    sortPortEntries(out);
    return withStableNames(out);
}

QList<PortEntry> withStableNames(const QList<PortEntry>& ports, const QString& byIdFolder) {
    const QFileInfoList links =
        QDir(byIdFolder)
            .entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QList<PortEntry> out;
    for (const PortEntry& e : ports) {
        out.append(e);
        if (!e.usb)
            continue;
        for (const QFileInfo& link : links) {
            if (!link.isSymLink())
                continue;
            if (QFileInfo(link.symLinkTarget()).fileName() != QFileInfo(e.name).fileName())
                continue;
            PortEntry stable = e;
            stable.name = QDir(byIdFolder).filePath(link.fileName());
            stable.description =
                e.name +
                (e.description.isEmpty() ? QString() : QStringLiteral(": ") + e.description);
            out.append(stable);
        }
    }
    return out;
}

QList<PortEntry> offeredPorts(QList<PortEntry> system, const QString& storedPort,
                              const QString& openPort) {
    auto listed = [&](const QString& name) {
        return std::any_of(system.begin(), system.end(), [&](const PortEntry& e) {
            return e.name == name || QStringLiteral("/dev/") + e.name == name;
        });
    };
    if (!openPort.isEmpty() && !listed(openPort))
        system.append(PortEntry{openPort, QStringLiteral("open"), false});
    if (storedPort.startsWith('/') && !listed(storedPort))
        system.append(PortEntry{storedPort, QString(), false});
    return system;
}

} // namespace gp
