#include "sim/sim_port.h"

#include <QtGlobal>
#include <cmath>

namespace gp::sim {

namespace {

// The unit polls its peers (the CO2 sensor streaming through the
// pass-through) this often in virtual time.
constexpr int64_t kUnitPollNs = 10'000'000;

bool sameLine(const LineSettings& a, const LineSettings& b) {
    return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits &&
           a.stopBits == b.stopBits;
}

int64_t msToNs(double ms) {
    return static_cast<int64_t>(std::llround(ms * 1e6));
}

} // namespace

SimPort::SimPort(SimProfile profile) : SimPort(std::make_shared<SimUnit>(std::move(profile))) {}

SimPort::SimPort(std::shared_ptr<SimUnit> unit) : unit_(std::move(unit)) {}

SimPort::~SimPort() = default;

bool SimPort::setSettings(const QString& settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        return false;
    line_ = *parsed;
    return true;
}

bool SimPort::open() {
    if (open_)
        return true;
    if (unplugged_) {
        lastError_ = PortError::NotFound;
        lastErrorText_ = QStringLiteral("no such device");
        return false;
    }
    if (refuseOpen_ != PortError::None) {
        lastError_ = refuseOpen_;
        lastErrorText_ = QStringLiteral("refused by the simulation");
        return false;
    }
    open_ = true;
    vanished_ = false;
    ++epoch_;
    ++openCount_;
    lastError_ = PortError::None;
    lastErrorText_.clear();
    return true;
}

void SimPort::close() {
    // Characters still on their way to the program are lost with the port;
    // those already written drain to the unit, as a UART's transmitter does.
    open_ = false;
    vanished_ = false;
    ++epoch_;
    rxBuffer_.clear();
    unannounced_ = false;
}

bool SimPort::write(const QByteArray& bytes) {
    if (!open_ || vanished_)
        return false;
    const int64_t bt = byteTimeNs(line_);
    int64_t at = std::max(nowNs_, txFreeAtNs_);
    for (char b : bytes) {
        at += bt; // a byte has reached the unit when its stop bit has
        Event e;
        e.kind = Event::ToUnit;
        e.byte = b;
        e.line = line_;
        schedule(at, e);
    }
    txFreeAtNs_ = at;
    bytesSent_ += static_cast<quint64>(bytes.size());
    return true;
}

QByteArray SimPort::readAll() {
    unannounced_ = false;
    return std::exchange(rxBuffer_, QByteArray());
}

double SimPort::byteTimeMs() const {
    return static_cast<double>(byteTimeNs(line_)) / 1e6;
}

int64_t SimPort::byteTimeNs(const LineSettings& line) const {
    const int bits = 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
    return static_cast<int64_t>(std::llround(bits * 1e9 / line.baud));
}

void SimPort::schedule(int64_t at, Event e) {
    queue_.emplace(at, std::move(e));
}

void SimPort::advance(double ms) {
    if (advancing_ || ms < 0)
        return;
    advancing_ = true;
    const int64_t target = nowNs_ + msToNs(ms);
    for (;;) {
        const bool eventFirst = !queue_.empty() && queue_.begin()->first <= nextPollNs_;
        const int64_t at = eventFirst ? queue_.begin()->first : nextPollNs_;
        if (at > target)
            break;
        nowNs_ = std::max(nowNs_, at);
        if (eventFirst) {
            const Event e = queue_.begin()->second;
            queue_.erase(queue_.begin());
            if (e.kind == Event::ToUnit)
                deliverToUnit(at, e);
            else
                deliverToHost(at, e);
        } else {
            nextPollNs_ += kUnitPollNs;
            const QByteArray out = unit_->poll(static_cast<double>(at) / 1e6);
            if (!out.isEmpty())
                sendToHost(at, out, 0.0, false);
        }
    }
    nowNs_ = target;
    if (unannounced_ && !rxBuffer_.isEmpty())
        notify();
    advancing_ = false;
}

void SimPort::deliverToUnit(int64_t at, const Event& e) {
    // A byte sent at another line speed arrives as a framing error, which
    // the unit's UART throws away.
    if (!sameLine(e.line, unit_->lineSettings()))
        return;
    const double t = static_cast<double>(at) / 1e6;
    const quint64 framesBefore = unit_->framesReceived();
    const QByteArray out = unit_->receive(e.byte, t);
    const quint64 frames = unit_->framesReceived();
    if (frames == framesBefore) {
        if (!out.isEmpty())
            sendToHost(at, out, 0.0, true);
        return;
    }
    const ShapedReply shaped = faults_.shape(out, frames);
    if (shaped.vanish) {
        doVanish();
        return;
    }
    double pause = 0.0;
    for (size_t i = 0; i < shaped.parts.size(); ++i) {
        sendToHost(at, shaped.parts[i].bytes, i == 0 ? shaped.delayMs : 0.0, true, pause);
        pause = i + 1 < shaped.parts.size() ? shaped.parts[i + 1].pauseBeforeMs : 0.0;
    }
}

void SimPort::sendToHost(int64_t at, const QByteArray& bytes, double extraDelayMs,
                         bool replyTurnaround, double pauseMs) {
    if (silent_ || bytes.isEmpty())
        return;
    // The unit sends at its own line speed; the port at another one only
    // sees framing errors, which the driver drops.
    const LineSettings unitLine = unit_->lineSettings();
    if (!sameLine(unitLine, line_))
        return;
    const int64_t bt = byteTimeNs(unitLine);
    int64_t start = at + msToNs(extraDelayMs) + (replyTurnaround ? turnaroundNs_ : 0);
    start = std::max(start, rxFreeAtNs_ + msToNs(pauseMs));
    int64_t t = start;
    for (int i = 0; i < bytes.size(); ++i) {
        t += bt;
        Event e;
        e.kind = Event::ToHost;
        e.byte = bytes[i];
        e.epoch = epoch_;
        schedule(t, e);
    }
    rxFreeAtNs_ = t;
}

void SimPort::deliverToHost(int64_t at, const Event& e) {
    if (!open_ || vanished_ || e.epoch != epoch_)
        return;
    rxBuffer_.append(e.byte);
    ++bytesReceived_;
    unannounced_ = true;
    // The burst goes on when the next character follows within a byte time.
    const int64_t bt = byteTimeNs(line_);
    for (auto it = queue_.begin(); it != queue_.end() && it->first <= at + bt; ++it)
        if (it->second.kind == Event::ToHost && it->second.epoch == epoch_)
            return;
    notify();
}

void SimPort::notify() {
    unannounced_ = false;
    ++notifications_;
    if (onReadyRead_)
        onReadyRead_();
}

void SimPort::arm(const WireFault& fault) {
    faults_.arm(fault, unit_->framesReceived());
}

bool SimPort::arm(const QString& faultText, QString* error) {
    const auto fault = parseWireFault(faultText, error);
    if (!fault)
        return false;
    arm(*fault);
    return true;
}

void SimPort::dropNextReply() {
    arm(WireFault{});
}

void SimPort::dropReplyToFrame(int n) {
    WireFault f;
    f.frame = n;
    arm(f);
}

void SimPort::delayNextReply(double ms) {
    WireFault f;
    f.kind = FaultKind::DelayReply;
    f.delayMs = ms;
    arm(f);
}

void SimPort::splitNextReply(int firstPartBytes, double pauseMs) {
    WireFault f;
    f.kind = FaultKind::SplitReply;
    f.position = firstPartBytes;
    f.delayMs = pauseMs;
    arm(f);
}

void SimPort::corruptNextReply(int index) {
    WireFault f;
    f.kind = FaultKind::CorruptReply;
    f.position = index;
    arm(f);
}

void SimPort::garbageBeforeNextReply(const QByteArray& garbage) {
    WireFault f;
    f.kind = FaultKind::GarbageBeforeReply;
    f.garbage = garbage;
    arm(f);
}

void SimPort::vanishAtFrame(int n) {
    WireFault f;
    f.kind = FaultKind::Vanish;
    f.frame = n;
    arm(f);
}

void SimPort::vanish() {
    doVanish();
}

void SimPort::doVanish() {
    unplugged_ = true;
    // Everything on the wire is lost with the adapter.
    queue_.clear();
    txFreeAtNs_ = nowNs_;
    rxFreeAtNs_ = nowNs_;
    rxBuffer_.clear();
    unannounced_ = false;
    if (!open_ || vanished_)
        return;
    vanished_ = true;
    lastError_ = PortError::Vanished;
    lastErrorText_ = QStringLiteral("device removed");
    if (onError_)
        onError_(PortError::Vanished, lastErrorText_);
}

} // namespace gp::sim
