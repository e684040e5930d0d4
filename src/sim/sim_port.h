#pragma once
// The simulated unit on an in-process serial port, in virtual time, for core
// tests. Nothing happens until the test moves the clock with advance(): the
// bytes the program wrote reach the unit one byte time apart, the unit's
// reply starts after a turnaround and its bytes arrive one byte time apart,
// and the ready-read callback runs whenever characters have arrived.
//
// When the callback runs: at the end of each burst of characters (the line
// goes quiet for a byte time), and at the end of advance() for characters
// that arrived but were not yet announced. So an undisturbed reply is one
// notification when the test advances past its end, and a test that steps
// through a reply sees it in pieces, as a program does with a real adapter.

#include "platform/serial_port.h"
#include "sim/sim_unit.h"
#include "sim/wire_faults.h"

#include <cstdint>
#include <map>
#include <memory>

namespace gp::sim {

class SimPort : public SerialPort {
  public:
    explicit SimPort(SimProfile profile = {});
    explicit SimPort(std::shared_ptr<SimUnit> unit);
    ~SimPort() override;

    // SerialPort
    QString name() const override { return name_; }
    void setName(const QString& name) override { name_ = name; }
    bool setSettings(const QString& settings) override;
    QString settings() const override { return line_.text(); }
    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    void setOnReadyRead(std::function<void()> handler) override {
        onReadyRead_ = std::move(handler);
    }
    void setOnError(std::function<void(PortError, const QString&)> handler) override {
        onError_ = std::move(handler);
    }
    PortError lastError() const override { return lastError_; }
    QString lastErrorText() const override { return lastErrorText_; }

    // Virtual time. The callbacks run inside advance() and may write, read
    // and close; an advance() from inside a callback does nothing.
    void advance(double ms);
    double nowMs() const { return static_cast<double>(nowNs_) / 1e6; }
    // One character on the line at the current settings: 10 bits at 9600
    // baud for 8N1 is about 1.0417 ms.
    double byteTimeMs() const;
    // The unit's pause between the end of a frame and the start of its reply.
    void setTurnaroundMs(double ms) { turnaroundNs_ = static_cast<int64_t>(ms * 1e6); }
    double turnaroundMs() const { return static_cast<double>(turnaroundNs_) / 1e6; }

    SimUnit& unit() { return *unit_; }
    const SimUnit& unit() const { return *unit_; }
    std::shared_ptr<SimUnit> sharedUnit() const { return unit_; }

    // Wire faults (see WireFault). Each named helper arms one fault.
    void arm(const WireFault& fault);
    bool arm(const QString& faultText, QString* error = nullptr);
    void dropNextReply();
    void dropReplyToFrame(int n); // n = 1: the next frame the unit takes in
    void delayNextReply(double ms);
    void splitNextReply(int firstPartBytes = -1, double pauseMs = 5.0);
    void corruptNextReply(int index = -1);
    void garbageBeforeNextReply(const QByteArray& garbage = QByteArrayLiteral("\xF8~x"));
    void clearFaults() { faults_.clear(); }
    // While silent, nothing the unit sends reaches the program; the unit
    // still carries out what it receives.
    void setSilent(bool silent) { silent_ = silent; }
    bool isSilent() const { return silent_; }

    // The adapter pulled out: an open port reports PortError::Vanished
    // through the error callback (it stays open, as QSerialPort does, until
    // the program closes it), writes fail, and open() answers NotFound until
    // replug(). Bytes on the wire are lost.
    void vanish();
    void vanishAtFrame(int n); // instead of the reply to the n-th frame from now
    void unplug() { vanish(); }
    void replug() { unplugged_ = false; }
    bool isPlugged() const { return !unplugged_; }
    // open() fails with this error (Busy, PermissionDenied); None allows it.
    void refuseOpen(PortError error) { refuseOpen_ = error; }

    // Counters since construction.
    quint64 bytesSent() const { return bytesSent_; }         // accepted by write()
    quint64 bytesReceived() const { return bytesReceived_; } // arrived at the port
    int notifications() const { return notifications_; }
    int openCount() const { return openCount_; }

  private:
    struct Event {
        enum Kind { ToUnit, ToHost } kind = ToUnit;
        char byte = 0;
        quint64 epoch = 0; // ToHost: the opening of the port it belongs to
        LineSettings line; // ToUnit: the settings it was sent with
    };
    using Queue = std::multimap<int64_t, Event>;

    void schedule(int64_t at, Event e);
    void deliverToUnit(int64_t at, const Event& e);
    void sendToHost(int64_t at, const QByteArray& bytes, double extraDelayMs, bool replyTurnaround,
                    double pauseMs = 0.0);
    void deliverToHost(int64_t at, const Event& e);
    void notify();
    void doVanish();
    int64_t byteTimeNs(const LineSettings& line) const;

    std::shared_ptr<SimUnit> unit_;
    QString name_ = QStringLiteral("simunit0");
    LineSettings line_;
    bool open_ = false;
    bool unplugged_ = false;
    bool vanished_ = false;
    bool silent_ = false;
    PortError refuseOpen_ = PortError::None;
    PortError lastError_ = PortError::None;
    QString lastErrorText_;
    std::function<void()> onReadyRead_;
    std::function<void(PortError, const QString&)> onError_;

    int64_t nowNs_ = 0;
    int64_t turnaroundNs_ = 2'000'000;
    int64_t txFreeAtNs_ = 0;
    int64_t rxFreeAtNs_ = 0;
    int64_t nextPollNs_ = 0;
    Queue queue_;
    bool advancing_ = false;
    quint64 epoch_ = 0;
    QByteArray rxBuffer_;
    bool unannounced_ = false;
    FaultSchedule faults_;

    quint64 bytesSent_ = 0;
    quint64 bytesReceived_ = 0;
    int notifications_ = 0;
    int openCount_ = 0;
};

} // namespace gp::sim
