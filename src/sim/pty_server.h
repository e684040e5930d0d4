#pragma once
// The simulated unit on a pseudo-terminal, in real time: what the desktop
// tool's --simulate, glimmerpane-sim and the end-to-end tests talk to through
// an ordinary serial port. Runs in the caller's event loop, so a QSerialPort
// client in the same process works.
//
// The server keeps the terminal's own end (the slave) open and raw from the
// start: otherwise the master reads fail with EIO whenever the client closes
// the port, and the terminal's echo would feed the unit's replies back to it.
// Replies leave at the byte time of the unit's line (9600 baud) after the
// turnaround, so the client sees characters trickle in as from a real unit.

#include "sim/sim_unit.h"
#include "sim/wire_faults.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace gp::sim {

class PtySimServer : public QObject {
    Q_OBJECT
  public:
    explicit PtySimServer(SimProfile profile = {}, QObject* parent = nullptr);
    explicit PtySimServer(std::shared_ptr<SimUnit> unit, QObject* parent = nullptr);
    ~PtySimServer() override;

    // Opens the pseudo-terminal. With a link path, also creates a symbolic
    // link there to the terminal (replacing a stale link, never a file); the
    // link goes away with the server. Answers false and sets errorString().
    bool start(const QString& linkPath = QString());
    void stop();
    bool isRunning() const { return master_ >= 0; }

    // The terminal's path (/dev/pts/N), and the link if one was asked for.
    QString slavePath() const { return slavePath_; }
    QString linkPath() const { return linkPath_; }
    QString errorString() const { return error_; }

    SimUnit& unit() { return *unit_; }
    std::shared_ptr<SimUnit> sharedUnit() const { return unit_; }
    // The engineer switches the unit off and on again, now.
    void powerCycle();
    void setTurnaroundMs(double ms) { turnaroundMs_ = ms; }
    // A USB serial adapter hands what came in on to the computer every ms
    // (its latency timer), not character by character; 0: each character
    // when it has arrived.
    void setLatencyMs(int ms) { latencyMs_ = ms; }
    // The boot monitor answers at once, with no byte time and no turnaround:
    // as fast as the flashing tool reads. The monitor's own speed (115200
    // baud) only matters to the tool, which takes its answers whenever they
    // come; tests of the tool's runs need not wait for it.
    void setBootMonitorUnpaced(bool on) { monitorUnpaced_ = on; }

    // Wire faults, as on the in-process port.
    void arm(const WireFault& fault);
    bool arm(const QString& faultText, QString* error = nullptr);
    void clearFaults() { faults_.clear(); }
    void setSilent(bool silent) { silent_ = silent; }
    // The device goes away: the terminal is closed (the client's port fails)
    // and the link removed. replug() brings a new terminal, reached through
    // the same link path.
    void vanish();
    bool replug();

    quint64 bytesReceived() const { return bytesReceived_; }
    quint64 bytesSent() const { return bytesSent_; }

  signals:
    // A complete frame reached the unit.
    void frameReceived(const QString& frame);
    void vanished();

  private:
    bool openTerminal();
    void closeTerminal();
    void removeLink();
    void onReadable();
    void queueOutput(double fromMs, const QByteArray& bytes, double pauseMs = 0.0);
    void flushDue();
    void scheduleFlush();
    double nowMs() const;
    double byteTimeMs() const;
    double replyTurnaroundMs() const;

    std::shared_ptr<SimUnit> unit_;
    QElapsedTimer clock_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString linkPath_;
    QString error_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* paceTimer_ = nullptr;
    QTimer* pollTimer_ = nullptr;
    double turnaroundMs_ = 2.0;
    int latencyMs_ = 0;
    bool monitorUnpaced_ = false;
    double rxClockMs_ = 0.0;  // when the last received byte finished arriving
    double txFreeAtMs_ = 0.0; // when the line to the client is free again
    struct OutByte {
        double dueMs;
        char byte;
    };
    std::deque<OutByte> out_;
    FaultSchedule faults_;
    bool silent_ = false;
    quint64 bytesReceived_ = 0;
    quint64 bytesSent_ = 0;
};

} // namespace gp::sim
