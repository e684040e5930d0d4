#pragma once
// The ports offered to the engineer: the system's serial ports by name, USB
// adapters first, each with its maker, product and serial number.

#include <QList>
#include <QString>

namespace gp {

struct PortEntry {
    QString name;        // what the list shows and "PORT" stores: ttyUSB0, or a device path
    QString description; // maker, product, serial number; empty when unknown
    bool usb = false;
};

// Orders ports for the list: USB adapters first, then the others, each group
// by name in natural order (ttyUSB2 before ttyUSB10).
void sortPortEntries(QList<PortEntry>& ports);

// The system's ports that can be opened now, USB adapters also by their
// stable name (see withStableNames). With evenUnopenable, built-in ports
// this user may not open are listed too: whether hardware is behind them
// cannot be told without opening them, and the user is to learn why not.
QList<PortEntry> ListPorts(bool evenUnopenable = false);

// Adds, right after each USB adapter, its name under byIdFolder
// (/dev/serial/by-id): a link named for maker, product and serial number
// that keeps naming the same adapter whichever ttyUSB number it gets.
QList<PortEntry> withStableNames(const QList<PortEntry>& ports,
                                 const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// The list as offered: the system's ports plus the stored port when it is a
// device path the system does not list (a pseudo-terminal, a socat link),
// plus the port open now, which the system may no longer list as free (it is
// ours) but which must stay listed and selectable.
QList<PortEntry> offeredPorts(QList<PortEntry> system, const QString& storedPort,
                              const QString& openPort = QString());

} // namespace gp
