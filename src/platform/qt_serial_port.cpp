#include "platform/qt_serial_port.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <sys/ioctl.h>
#include <termios.h>

namespace gp {

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        if (onReadyRead_)
            onReadyRead_();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onQtError);
}

QtSerialPort::~QtSerialPort() {
    onReadyRead_ = nullptr;
    onError_ = nullptr;
    port_.close();
}

void QtSerialPort::setName(const QString& name) {
    name_ = name;
    port_.setPortName(name);
}

bool QtSerialPort::setSettings(const QString& settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        return false;
    settings_ = *parsed;
    if (port_.isOpen())
        applySettings();
    return true;
}

void QtSerialPort::applySettings() {
    port_.setBaudRate(settings_.baud);
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    switch (settings_.parity) {
    case 'e':
        port_.setParity(QSerialPort::EvenParity);
        break;
    case 'o':
        port_.setParity(QSerialPort::OddParity);
        break;
    case 'm':
        port_.setParity(QSerialPort::MarkParity);
        break;
    case 's':
        port_.setParity(QSerialPort::SpaceParity);
        break;
    default:
        port_.setParity(QSerialPort::NoParity);
    }
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPort::open() {
    if (port_.isOpen())
        return true;
    lastError_ = PortError::None;
    lastErrorText_.clear();
    if (name_.isEmpty()) {
        lastError_ = PortError::NotFound;
        lastErrorText_ = QStringLiteral("no port chosen");
        return false;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        lastError_ = toPortError(port_.error());
        lastErrorText_ = port_.errorString();
        port_.clearError();
        return false;
    }
    applySettings();
    return true;
}

void QtSerialPort::close() {
    if (port_.isOpen())
        port_.close();
}

bool QtSerialPort::write(const QByteArray& bytes) {
    if (!port_.isOpen())
        return false;
    if (port_.write(bytes) != bytes.size()) {
        lastError_ = toPortError(port_.error());
        lastErrorText_ = port_.errorString();
        return false;
    }
    return true;
}

bool QtSerialPort::flush(int timeoutMs) {
    if (!port_.isOpen())
        return false;
    // QSerialPort keeps written bytes in its own buffer until the event loop
    // hands them to the driver; closing the port drops what is still there.
    QElapsedTimer clock;
    clock.start();
    while (port_.bytesToWrite() > 0) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || !port_.waitForBytesWritten(static_cast<int>(left)))
            break;
    }
    if (port_.bytesToWrite() > 0)
        return false;
    // Then the driver's queue, which drains at the line's own pace (a few
    // milliseconds for a short line at 9600 baud).
    const int fd = static_cast<int>(port_.handle());
    while (fd >= 0) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return true;
        if (clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}

void QtSerialPort::onQtError(QSerialPort::SerialPortError error) {
    // Errors of open() are answered there; here only what happens to an open
    // port on its own, such as a USB adapter pulled out.
    if (error == QSerialPort::NoError || !port_.isOpen())
        return;
    // A USB adapter pulled out (or a pseudo-terminal closed under us) shows
    // as a read or resource error; Qt repeats it for as long as the port
    // stays open, so the link closes the port on the first one.
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    const PortError e = gone ? PortError::Vanished : toPortError(error);
    if (e == PortError::None || error == QSerialPort::TimeoutError)
        return;
    lastError_ = e;
    lastErrorText_ = port_.errorString();
    port_.clearError();
    if (onError_)
        onError_(e, lastErrorText_);
}

PortError toPortError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
        return PortError::None;
    case QSerialPort::DeviceNotFoundError:
        return PortError::NotFound;
    case QSerialPort::PermissionError:
        return PortError::PermissionDenied;
    case QSerialPort::OpenError:
        return PortError::Busy;
    case QSerialPort::ResourceError:
        return PortError::Vanished;
    default:
        return PortError::Other;
    }
}

bool QtSerialPort::PortExists(const QString& name) {
    QSerialPort p;
    p.setPortName(name);
    if (!p.open(QIODevice::ReadWrite))
        return false;
    p.close();
    return true;
}

} // namespace gp
