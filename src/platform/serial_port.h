#pragma once
// The seam between the program and a serial line. The desktop tool and the
// command-line front end use the QSerialPort implementation; core tests use the
// simulated unit in-process; end-to-end tests reach the simulator over a
// pseudo-terminal through the QSerialPort implementation.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace gp {

// Why a port could not be opened, or why it went away while open.
enum class PortError { None, NotFound, Busy, PermissionDenied, Vanished, Other };

// Line settings in the text form the unit's documentation uses: "9600,n,8,1".
struct LineSettings {
    int baud = 9600;
    char parity = 'n'; // n, e, o, m, s
    int dataBits = 8;
    int stopBits = 1;
    QString text() const;
};
std::optional<LineSettings> parseLineSettings(const QString& text);

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // The port's name (ttyUSB0) or device path (/dev/pts/3).
    virtual QString name() const = 0;
    virtual void setName(const QString& name) = 0;

    // "9600,n,8,1"; applies at once when the port is open.
    virtual bool setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes the bytes as they are; answers false when the port refused them.
    virtual bool write(const QByteArray& bytes) = 0;
    // Waits until everything written has left for the line, at most
    // timeoutMs. Answers false when bytes are still waiting. A port that
    // writes at once has nothing to wait for.
    virtual bool flush(int timeoutMs) {
        (void)timeoutMs;
        return true;
    }
    // Every character waiting at the port.
    virtual QByteArray readAll() = 0;

    // Called whenever at least one character has arrived.
    virtual void setOnReadyRead(std::function<void()> handler) = 0;
    // Called when an open port fails on its own (adapter unplugged).
    virtual void setOnError(std::function<void(PortError, const QString&)> handler) = 0;

    // The reason of the last failed open() or of the last error, in words.
    virtual PortError lastError() const = 0;
    virtual QString lastErrorText() const = 0;
};

// A sentence for the engineer: the port, the reason, and for a refused
// permission the hint about access to serial devices.
QString describePortError(const QString& port, PortError error, const QString& detail);

} // namespace gp
