#include "sim/pty_server.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace gp::sim {

namespace {
QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

PtySimServer::PtySimServer(SimProfile profile, QObject* parent)
    : PtySimServer(std::make_shared<SimUnit>(std::move(profile)), parent) {}

PtySimServer::PtySimServer(std::shared_ptr<SimUnit> unit, QObject* parent)
    : QObject(parent), unit_(std::move(unit)), paceTimer_(new QTimer(this)),
      pollTimer_(new QTimer(this)) {
    clock_.start();
    paceTimer_->setSingleShot(true);
    paceTimer_->setTimerType(Qt::PreciseTimer);
    connect(paceTimer_, &QTimer::timeout, this, &PtySimServer::flushDue);
    // The unit's own peers (a CO2 sensor streaming) speak without being asked.
    pollTimer_->setInterval(10);
    connect(pollTimer_, &QTimer::timeout, this, [this]() {
        const QByteArray bytes = unit_->poll(nowMs());
        if (!bytes.isEmpty())
            queueOutput(nowMs(), bytes);
    });
}

PtySimServer::~PtySimServer() {
    stop();
}

void PtySimServer::powerCycle() {
    unit_->powerCycle(nowMs());
}

double PtySimServer::nowMs() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e6;
}

double PtySimServer::byteTimeMs() const {
    if (monitorUnpaced_ && unit_->mode() == SimUnit::Mode::BootMonitor)
        return 0.0;
    const LineSettings line = unit_->lineSettings();
    const int bits = 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
    return bits * 1000.0 / line.baud;
}

double PtySimServer::replyTurnaroundMs() const {
    return monitorUnpaced_ && unit_->mode() == SimUnit::Mode::BootMonitor ? 0.0 : turnaroundMs_;
}

bool PtySimServer::start(const QString& linkPath) {
    stop();
    error_.clear();
    if (!openTerminal())
        return false;
    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        const QFileInfo info(linkPath);
        if (info.isSymLink()) {
            ::unlink(link.constData()); // left behind by an earlier run
        } else if (info.exists()) {
            error_ = QStringLiteral("%1 exists and is not a link; not replacing it").arg(linkPath);
            closeTerminal();
            return false;
        }
        if (::symlink(QFile::encodeName(slavePath_).constData(), link.constData()) != 0) {
            error_ = systemError("symlink");
            closeTerminal();
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

void PtySimServer::stop() {
    removeLink();
    linkPath_.clear();
    closeTerminal();
}

bool PtySimServer::openTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error_ = systemError("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error_ = systemError("pseudo-terminal set-up");
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        error_ = systemError("open pseudo-terminal");
        ::close(master);
        return false;
    }
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    master_ = master;
    slave_ = slave;
    slavePath_ = QString::fromLocal8Bit(name);
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtySimServer::onReadable);
    pollTimer_->start();
    return true;
}

void PtySimServer::closeTerminal() {
    pollTimer_->stop();
    paceTimer_->stop();
    out_.clear();
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

void PtySimServer::removeLink() {
    if (linkPath_.isEmpty())
        return;
    // Only our own link: another server may have taken the path meanwhile.
    const QFileInfo info(linkPath_);
    if (info.isSymLink() && info.symLinkTarget() == slavePath_)
        ::unlink(QFile::encodeName(linkPath_).constData());
}

void PtySimServer::onReadable() {
    char buf[512];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0)
        return; // nothing (EAGAIN); the slave stays open, so no EIO
    bytesReceived_ += static_cast<quint64>(n);
    const double bt = byteTimeMs();
    for (ssize_t i = 0; i < n; ++i) {
        // The terminal hands over a whole write at once; on a real line each
        // byte takes its byte time, and the reply starts after the last one.
        rxClockMs_ = std::max(nowMs(), rxClockMs_) + bt;
        const quint64 framesBefore = unit_->framesReceived();
        const QByteArray reply = unit_->receive(buf[i], rxClockMs_);
        const quint64 frames = unit_->framesReceived();
        if (frames == framesBefore) {
            if (!reply.isEmpty())
                queueOutput(rxClockMs_ + replyTurnaroundMs(), reply);
            continue;
        }
        emit frameReceived(unit_->frameHistory().isEmpty() ? QString()
                                                           : unit_->frameHistory().last());
        const ShapedReply shaped = faults_.shape(reply, frames);
        if (shaped.vanish) {
            QMetaObject::invokeMethod(this, &PtySimServer::vanish, Qt::QueuedConnection);
            return;
        }
        for (size_t p = 0; p < shaped.parts.size(); ++p)
            queueOutput(rxClockMs_ + replyTurnaroundMs() + shaped.delayMs, shaped.parts[p].bytes,
                        shaped.parts[p].pauseBeforeMs);
    }
}

void PtySimServer::queueOutput(double fromMs, const QByteArray& bytes, double pauseMs) {
    if (silent_ || bytes.isEmpty() || master_ < 0)
        return;
    const double bt = byteTimeMs();
    double t = std::max(fromMs, txFreeAtMs_ + pauseMs);
    for (char b : bytes) {
        t += bt;
        out_.push_back({t, b});
    }
    txFreeAtMs_ = t;
    scheduleFlush();
}

void PtySimServer::flushDue() {
    const double now = nowMs();
    QByteArray due;
    while (!out_.empty() && out_.front().dueMs <= now) {
        due.append(out_.front().byte);
        out_.pop_front();
    }
    if (!due.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, due.constData(), static_cast<size_t>(due.size()));
        // A client that does not read lets the terminal fill up; what does
        // not fit is lost, as on a line nobody listens to.
        if (n > 0)
            bytesSent_ += static_cast<quint64>(n);
    }
    scheduleFlush();
}

void PtySimServer::scheduleFlush() {
    if (out_.empty() || paceTimer_->isActive())
        return;
    double due = out_.front().dueMs;
    if (latencyMs_ > 0)
        due = std::ceil(due / latencyMs_) * latencyMs_;
    const double wait = due - nowMs();
    paceTimer_->start(wait <= 0 ? 0 : static_cast<int>(std::ceil(wait)));
}

void PtySimServer::arm(const WireFault& fault) {
    faults_.arm(fault, unit_->framesReceived());
}

bool PtySimServer::arm(const QString& faultText, QString* error) {
    const auto fault = parseWireFault(faultText, error);
    if (!fault)
        return false;
    arm(*fault);
    return true;
}

void PtySimServer::vanish() {
    if (master_ < 0)
        return;
    removeLink();
    closeTerminal();
    emit vanished();
}

bool PtySimServer::replug() {
    if (master_ >= 0)
        return true;
    if (!openTerminal())
        return false;
    if (!linkPath_.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath_);
        if (QFileInfo(linkPath_).isSymLink())
            ::unlink(link.constData());
        if (::symlink(QFile::encodeName(slavePath_).constData(), link.constData()) != 0) {
            error_ = systemError("symlink");
            return false;
        }
    }
    return true;
}

} // namespace gp::sim
