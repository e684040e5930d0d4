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

// Maps QSerialPort's error to ours.
PortError toPortError(QSerialPort::SerialPortError error);

} // namespace gp
