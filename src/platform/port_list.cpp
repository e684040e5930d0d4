#include "platform/port_list.h"

#include "platform/qt_serial_port.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <QStringList>
#include <algorithm>

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

QList<PortEntry> ListPorts() {
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
        if (!e.usb && !QtSerialPort::PortExists(info.systemLocation()))
            continue;
        out.append(e);
    }
    sortPortEntries(out);
    return out;
}

QList<PortEntry> offeredPorts(QList<PortEntry> system, const QString& storedPort) {
    if (storedPort.startsWith('/')) {
        const bool listed = std::any_of(system.begin(), system.end(), [&](const PortEntry& e) {
            return e.name == storedPort || QStringLiteral("/dev/") + e.name == storedPort;
        });
        if (!listed)
            system.append(PortEntry{storedPort, QString(), false});
    }
    return system;
}

} // namespace gp
