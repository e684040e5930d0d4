#include "platform/qt_serial_port.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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

QString portDevicePath(const QString& name) {
    if (!name.contains(QLatin1Char('/')))
        return name;
    const QFileInfo info(name);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

void QtSerialPort::setName(const QString& name) {
    name_ = name;
    port_.setPortName(portDevicePath(name));
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
    // The device as it is now (a link may point elsewhere since the name was
    // chosen): one device is locked under one name, whatever it is called.
    const QString device = portDevicePath(name_);
    port_.setPortName(device);
    const QString path =
        device.contains(QLatin1Char('/')) ? device : QSerialPortInfo(name_).systemLocation();
    // A lock whose program still runs is that program's port. Qt would take
    // a lock of another program's form as stale and remove it; it is never
    // asked to.
    if (const QString holder = portLockHolder(path); !holder.isEmpty()) {
        lastError_ = PortError::Busy;
        lastErrorText_ = holder;
        return false;
    }
    if (!port_.open(QIODevice::ReadWrite)) {
        lastErrorText_ = port_.errorString();
        lastError_ = classifyOpenError(port_.error(), path, &lastErrorText_);
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

QString portLockFileName(const QString& devicePath) {
    const QString dev = QStringLiteral("/dev/");
    QString name =
        devicePath.startsWith(dev) ? devicePath.mid(dev.size()) : QFileInfo(devicePath).fileName();
    return QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString portLockHolder(const QString& devicePath, const QStringList& lockDirs) {
    const QString lockName = portLockFileName(devicePath);
    for (const QString& dir : lockDirs) {
        QFile lock(QDir(dir).filePath(lockName));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = lock.read(64);
        // The PID in ASCII (the usual form) or as a 4-byte binary number.
        bool ok = false;
        qint64 pid = content.trimmed().toLongLong(&ok);
        if (!ok && content.size() == 4) {
            int32_t binary = 0;
            std::memcpy(&binary, content.constData(), 4);
            pid = binary;
            ok = true;
        }
        if (!ok || pid <= 0)
            continue;
        // A lock left behind by a process that has ended holds nothing.
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QString program = QString::fromLocal8Bit(comm.readAll()).trimmed();
        return QStringLiteral("%1 (PID %2)")
            .arg(program.isEmpty() ? QStringLiteral("?") : program)
            .arg(pid);
    }
    return QString();
}

PortError classifyOpenError(QSerialPort::SerialPortError error, const QString& devicePath,
                            QString* detail, const QStringList& lockDirs) {
    const PortError mapped = toPortError(error);
    if (mapped != PortError::PermissionDenied && mapped != PortError::Busy)
        return mapped;
    if (!devicePath.isEmpty() && !QFileInfo::exists(devicePath))
        return PortError::NotFound;
    const QString holder = devicePath.isEmpty() ? QString() : portLockHolder(devicePath, lockDirs);
    if (!holder.isEmpty()) {
        if (detail)
            *detail = holder;
        return PortError::Busy;
    }
    // The device may be read and written by this user, yet would not open:
    // another program holds it exclusively.
    if (!devicePath.isEmpty() &&
        ::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0) {
        if (detail)
            detail->clear();
        return PortError::Busy;
    }
    return PortError::PermissionDenied;
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
