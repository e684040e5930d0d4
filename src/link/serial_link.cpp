#include "link/serial_link.h"

#include "link/codec.h"

namespace gp {

SerialLink::SerialLink(TrafficLog& log) : log_(log) {}

SerialLink::~SerialLink() {
    if (port_) {
        port_->setOnReadyRead(nullptr);
        port_->setOnError(nullptr);
    }
}

void SerialLink::setPort(std::unique_ptr<SerialPort> port) {
    if (port_) {
        port_->setOnReadyRead(nullptr);
        port_->setOnError(nullptr);
        port_->close();
    }
    port_ = std::move(port);
    forgetExchange();
    if (!port_)
        return;
    port_->setSettings(QString::fromLatin1(kUnitSettings));
    port_->setOnReadyRead([this] { onReceive(); });
    port_->setOnError([this](PortError e, const QString& detail) {
        if (e == PortError::Vanished)
            vanished_ = true;
        reportProblem(e, detail);
        if (port_ && port_->isOpen())
            port_->close();
    });
}

void SerialLink::setStatus(const QString& text) {
    if (onStatus)
        onStatus(text);
}

void SerialLink::reportProblem(PortError error, const QString& detail) {
    const QString text = describePortError(port_ ? port_->name() : QString(), error, detail);
    // One line per problem, not one per frame: a dead port would otherwise
    // fill the log at the rate of the poll cycle.
    if (text == problem_)
        return;
    problem_ = text;
    log_.AddLog(text);
    setStatus(text);
}

bool SerialLink::tryOpen() {
    if (!port_)
        return false;
    if (port_->isOpen())
        return true;
    if (!port_->open()) {
        reportProblem(port_->lastError(), port_->lastErrorText());
        return false;
    }
    counters = LinkCounters{};
    forgetExchange();
    if (vanished_ || !problem_.isEmpty()) {
        const QString text = vanished_ ? QStringLiteral("Port %1 is back and open again.")
                                       : QStringLiteral("Port %1 is open.");
        log_.AddLog(text.arg(port_->name()));
    }
    vanished_ = false;
    problem_.clear();
    setStatus(QStringLiteral("Port %1 open").arg(port_->name()));
    return true;
}

bool SerialLink::choosePort(const QString& name) {
    if (!port_)
        return false;
    port_->close();
    if (port_->name() != name) {
        problem_.clear();
        vanished_ = false;
    }
    port_->setName(name);
    port_->setSettings(QString::fromLatin1(kUnitSettings));
    // Whatever was awaited or received on the line before belongs to it.
    forgetExchange();
    return tryOpen();
}

void SerialLink::close() {
    if (port_)
        port_->close();
    forgetExchange();
}

void SerialLink::forgetExchange() {
    RxBuffer.clear();
    replies_.clear();
    awaited_.clear();
    ReplyReady = false;
    lastSent_ = 0;
}

void SerialLink::backToUnit() {
    BootProbe = false;
    BootFound = false;
    forgetExchange();
    if (!port_)
        return;
    port_->setSettings(QString::fromLatin1(kUnitSettings));
    if (!port_->isOpen())
        choosePort(port_->name());
}

void SerialLink::SendMsg(const QString& frame) {
    if (onActivity)
        onActivity();
    if (Co2PassThrough && leavePassThrough)
        leavePassThrough();
    if (!isOpen()) {
        // The frame is not sent. Arm a time-out that expires at the next tick,
        // so that a batch on a closed port runs through one entry per tick
        // and ends, instead of waiting for a reply that cannot come.
        if (reopenAfterVanish || !vanished_)
            tryOpen();
        ++counters.framesNotSent;
        MsgTimeout = 0;
        lastSent_ = 0;
        return;
    }
    log_.AddLog(QStringLiteral("[Tx] ") + frame);
    MsgTimeout = kReplyTimeoutTicks;
    RxBuffer.clear();
    ++counters.framesSent;
    lastSent_ = ++sentCount_;
    // One tick more than the poll cycle waits, so that a batch frame is
    // given up by the batch's own time-out first.
    awaited_.push_back({frame, lastSent_, kReplyTimeoutTicks + 1});
    if (awaited_.size() > kMaxAwaited)
        awaited_.pop_front();
    if (!port_->write(frame.toLatin1()))
        reportProblem(port_->lastError(), port_->lastErrorText());
}

bool SerialLink::awaiting(quint64 frameNo) const {
    return frameNo != 0 && std::any_of(awaited_.begin(), awaited_.end(),
                                       [&](const Awaited& a) { return a.number == frameNo; });
}

quint64 SerialLink::claim(const CutReply& reply) {
    for (auto it = awaited_.begin(); it != awaited_.end(); ++it) {
        // A reply complete before a frame was sent cannot answer it.
        if (it->number > reply.sentBefore)
            break;
        if (ReplyAnswers(it->frame, reply.text)) {
            const quint64 number = it->number;
            awaited_.erase(it);
            return number;
        }
    }
    return 0;
}

void SerialLink::forget(quint64 frameNo) {
    std::erase_if(awaited_, [&](const Awaited& a) { return a.number == frameNo; });
}

void SerialLink::waitOneTickMore(quint64 frameNo) {
    if (frameNo == 0 || frameNo != lastSent_)
        return;
    ++MsgTimeout;
    for (Awaited& a : awaited_)
        if (a.number == frameNo)
            ++a.ticksLeft;
}

void SerialLink::ageAwaited() {
    for (Awaited& a : awaited_)
        --a.ticksLeft;
    // A frame sent on its own whose reply never came (a batch's frames are
    // given up, and counted, by the batch first).
    counters.repliesLost += static_cast<int>(
        std::erase_if(awaited_, [](const Awaited& a) { return a.ticksLeft <= 0; }));
}

std::optional<SerialLink::CutReply> SerialLink::takeReply() {
    if (replies_.empty()) {
        ReplyReady = false;
        return std::nullopt;
    }
    CutReply r = std::move(replies_.front());
    replies_.pop_front();
    ReplyReady = !replies_.empty();
    return r;
}

void SerialLink::sendRaw(const QString& text) {
    if (onActivity)
        onActivity();
    if (!isOpen()) {
        if (reopenAfterVanish || !vanished_)
            tryOpen();
        return;
    }
    QString shown = text;
    while (shown.endsWith('\n') || shown.endsWith('\r'))
        shown.chop(1);
    log_.AddLog(QStringLiteral("[Tx] ") + shown);
    if (!port_->write(text.toLatin1()))
        reportProblem(port_->lastError(), port_->lastErrorText());
}

void SerialLink::onReceive() {
    if (!port_)
        return;
    const QByteArray data = port_->readAll();
    if (data.isEmpty())
        return;
    if (onActivity)
        onActivity();
    // The line is read by one of three listeners; a part of a frame one of
    // them received is never completed by characters meant for another.
    const Route route = BootProbe ? Route::Boot : Co2PassThrough ? Route::Sensor : Route::Unit;
    if (route != rxRoute_) {
        discard(RxBuffer.size());
        RxBuffer.clear();
        rxRoute_ = route;
    }
    if (BootProbe) {
        RxBuffer += data;
        if (RxBuffer.contains("\n\r")) {
            BootFound = true;
            RxBuffer.clear();
            if (onBootFound)
                onBootFound();
        } else if (RxBuffer.size() > 10) {
            RxBuffer.clear();
        }
        return;
    }
    if (Co2PassThrough) {
        if (co2Receive)
            co2Receive(data);
        return;
    }
    RxBuffer += data;
    if (RxBuffer.size() > kRxBufferCap) {
        const qsizetype drop = RxBuffer.size() - kRxBufferCap;
        RxBuffer.remove(0, drop);
        discard(drop);
    }
    cutReplies();
}

void SerialLink::cutReplies() {
    // Every complete reply in the buffer is cut, in order; what follows the
    // last "#" may be the start of the next one and stays.
    bool cut = false;
    for (;;) {
        const qsizetype bang = RxBuffer.indexOf('!');
        if (bang < 0) {
            discard(RxBuffer.size());
            RxBuffer.clear();
            break;
        }
        if (bang > 0) {
            discard(bang);
            RxBuffer.remove(0, bang);
        }
        const qsizetype hash = RxBuffer.indexOf('#');
        if (hash < 0)
            break;
        // A reply holds no "!" of its own: noise on the line that happened
        // to contain one must not swallow the reply behind it, so the reply
        // starts at the last "!" before its "#".
        const qsizetype start = RxBuffer.lastIndexOf('!', hash);
        if (start > 0) {
            discard(start);
            RxBuffer.remove(0, start);
        }
        const qsizetype end = hash - start + 1;
        RxMsg = QString::fromLatin1(RxBuffer.left(end));
        RxBuffer.remove(0, end);
        log_.AddLog(QStringLiteral("[Rx] ") + RxMsg);
        replies_.push_back({RxMsg, sentCount_});
        cut = true;
        if (replies_.size() > kMaxPendingReplies) {
            // Nobody took them: a line flooded with replies answers nothing.
            replies_.pop_front();
            ++counters.repliesStale;
        }
    }
    ReplyReady = !replies_.empty();
    if (cut && onReplyComplete)
        onReplyComplete();
}

} // namespace gp
