#pragma once
// The serial port on QSerialPort: system ports by name (ttyUSB0) and device
// paths (a pseudo-terminal such as /dev/pts/3).

#include "platform/serial_port.h"

#include <QObject>
#include <QSerialPort>

namespace gp {

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
  public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    QString name() const override { return name_; }
    void setName(const QString& name) override;
    bool setSettings(const QString& settings) override;
    QString settings() const override { return settings_.text(); }
    bool open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    bool write(const QByteArray& bytes) override;
    bool flush(int timeoutMs) override;
    QByteArray readAll() override { return port_.readAll(); }
    void setOnReadyRead(std::function<void()> handler) override {
        onReadyRead_ = std::move(handler);
    }
    void setOnError(std::function<void(PortError, const QString&)> handler) override {
        onError_ = std::move(handler);
    }
    PortError lastError() const override { return lastError_; }
    QString lastErrorText() const override { return lastErrorText_; }

    // Whether the named port can be opened and closed again right now.
    static bool PortExists(const QString& name);

  private:
    void applySettings();
    void onQtError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QString name_;
    LineSettings settings_;
    PortError lastError_ = PortError::None;
    QString lastErrorText_;
    std::function<void()> onReadyRead_;
    std::function<void(PortError, const QString&)> onError_;
};

// The device a port name stands for: a name holding "/" is a path (relative
// to the current folder when it does not start with "/"), with its links
// resolved; any other name is a system port's ("ttyUSB0").
QString portDevicePath(const QString& name);

// Maps QSerialPort's error to ours.
PortError toPortError(QSerialPort::SerialPortError error);

// The name of a device's UUCP lock file: its path below /dev with "/" as
// "_" (LCK..ttyUSB0, LCK..pts_6), as Qt and the other serial programs name it.
QString portLockFileName(const QString& devicePath);

// Who holds a port's UUCP lock file (LCK..ttyUSB0 in one of the lock
// folders): "minicom (PID 4242)", or empty when no living process does.
QString portLockHolder(const QString& devicePath,
                       const QStringList& lockDirs = {QStringLiteral("/var/lock"),
                                                      QStringLiteral("/run/lock")});

// Why opening the device at devicePath failed. QSerialPort reports a port
// locked or held exclusively by another program as a permission error, which
// sent the engineer to the dialout group even as root: a lock holder, or a
// device this user may read and write, means the port is in use (detail
// then names the holder, or is empty); a missing device does not exist.
PortError classifyOpenError(QSerialPort::SerialPortError error, const QString& devicePath,
                            QString* detail,
                            const QStringList& lockDirs = {QStringLiteral("/var/lock"),
                                                           QStringLiteral("/run/lock")});

} // namespace gp
