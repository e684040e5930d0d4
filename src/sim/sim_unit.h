#pragma once
// The simulated room unit: the protocol model behind every simulated port.
// It keeps no time of its own; each byte comes with the virtual time at which
// it arrived, and the unit answers with the bytes it sends back.
//
// What it models: the 256-register bank with its nonvolatile copy, the logo
// bank, input items, identity items, diagnostic items, analogue channels and
// the status with its reset cause; the system actions; the silence while it
// starts up after ":SR#"; and the switch of the line to the CO2 sensor
// (":SZ#") or to the boot monitor (":SAMBA#").

#include "platform/serial_port.h"
#include "sim/sim_hooks.h"
#include "sim/sim_profile.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>

namespace gp::sim {

class SimUnit {
  public:
    enum class Mode { Protocol, PassThrough, BootMonitor };

    // Registers from here up are the user settings: ":SD#" brings them back
    // to the factory values and ":SU#" makes them permanent. Below lie the
    // product identity (00..0F) and the calibration (10..19), which only
    // ":SP#" burns and a defaults restore leaves alone.
    static constexpr int kFirstUserRegister = 0x1A;
    // Sensor trims and filters, made permanent by ":SF#".
    static constexpr int kFirstSensorRegister = 0x1A;
    static constexpr int kLastSensorRegister = 0x20;
    static constexpr int kLogoWords = 128;
    static constexpr int kInputItems = 19;
    static constexpr int kAnalogueChannels = 13;
    // A frame longer than this without its "#" is noise and is dropped.
    static constexpr int kMaxFrameLength = 32;

    explicit SimUnit(SimProfile profile = {});
    ~SimUnit();

    const SimProfile& profile() const { return profile_; }

    // One byte arrived at virtual time nowMs (milliseconds since the unit
    // was powered up). Answers the bytes the unit sends back because of it:
    // a whole reply when the byte ended a frame, the sensor's answer during a
    // pass-through, and so on; mostly nothing.
    QByteArray receive(char byte, double nowMs);
    QByteArray receive(const QByteArray& bytes, double nowMs);
    // Bytes the unit sends on its own (the CO2 sensor in stream mode behind
    // the pass-through). Ports call this as virtual time passes.
    QByteArray poll(double nowMs);

    // The line the unit listens on now: the firmware's, or the boot monitor's.
    LineSettings lineSettings() const;
    Mode mode() const { return mode_; }
    // True while the unit is starting up after a reset and ignores the line.
    bool isStartingUp(double nowMs) const { return nowMs < silentUntil_; }

    // Complete frames taken in (answered or not), and the last ones in order.
    quint64 framesReceived() const { return framesReceived_; }
    const QStringList& frameHistory() const { return frameHistory_; }
    // How often a system action was carried out: "P" for ":SP#", "AMBA"
    // for ":SAMBA#".
    int actionCount(const QString& action) const { return actionCounts_.value(action); }

    // Inspection and set-up for tests.
    int32_t reg(int r) const { return ram_.at(static_cast<size_t>(r)); }
    void setReg(int r, int32_t value) { ram_.at(static_cast<size_t>(r)) = value; }
    int32_t nonvolatileReg(int r) const { return nonvolatile_.at(static_cast<size_t>(r)); }
    void setNonvolatileReg(int r, int32_t value) {
        nonvolatile_.at(static_cast<size_t>(r)) = value;
    }
    int32_t factoryReg(int r) const { return factory_.at(static_cast<size_t>(r)); }
    int32_t logo(int word) const { return logo_.at(static_cast<size_t>(word)); }
    void setLogo(int word, int32_t value) { logo_.at(static_cast<size_t>(word)) = value; }
    int32_t status() const;
    int resetCause() const { return resetCause_; }
    int32_t diagnostic(int item, double nowMs) const;
    float input(int item, double nowMs) const;
    int32_t analogue(int channel, double nowMs) const;
    int32_t screenRate() const { return screenRate_; }
    int32_t debugFlags() const { return debugFlags_; }

    // A reset as the unit's own reset would do it: RAM from the nonvolatile
    // copy, volatile diagnostics cleared, silent while starting up.
    void reset(int cause, double nowMs);
    // Power taken away and given back: ends the pass-through, reports a
    // power-up, and leaves the boot monitor when the flash holds a bootable
    // image (else the unit comes up in its boot monitor again).
    void powerCycle(double nowMs);
    // The boot monitor erased the processor's flash: the settings and the
    // logo, which the firmware keeps there, are gone (every bit set). The
    // layout code of register 00 belongs to the firmware and stays.
    void eraseFlash();
    // A new firmware image was flashed: identity item 04 reports its version.
    void setFirmwareVersion(int version) { profile_.firmwareVersion = version; }

    // The peers that take over the line; null puts back the silent default.
    void setPassThroughPeer(std::unique_ptr<PassThroughPeer> peer);
    void setBootMonitor(std::unique_ptr<BootMonitor> monitor);
    PassThroughPeer& passThroughPeer() { return *peer_; }
    BootMonitor& bootMonitor() { return *bootMonitor_; }

  private:
    QByteArray protocolByte(char byte, double nowMs);
    QByteArray passThroughByte(char byte, double nowMs);
    QByteArray answer(const QString& body, double nowMs);
    QByteArray systemAction(const QString& action, double nowMs);
    QByteArray readItem(QChar letter, int item, double nowMs);
    QByteArray writeItem(QChar letter, int item, int32_t value, double nowMs);
    QByteArray statusReply() const;
    void calibrateOutputs();
    void burn(int first, int last);

    SimProfile profile_;
    std::array<int32_t, 256> factory_{};
    std::array<int32_t, 256> ram_{};
    std::array<int32_t, 256> nonvolatile_{};
    std::array<int32_t, kLogoWords> logo_{};
    int resetCause_ = 0;
    double resetAtMs_ = 0.0;
    double silentUntil_ = 0.0;
    int32_t debugFlags_ = 0;   // diagnostic item 03, lost on reset
    int32_t debugCommand_ = 0; // diagnostic item 04
    int32_t debugWord_ = 0;    // diagnostic item 08
    int32_t screenRate_ = 0;   // diagnostic item 0A, kept by the unit itself
    quint32 rejectedFrames_ = 0;
    quint32 resetsSincePowerUp_ = 0;

    Mode mode_ = Mode::Protocol;
    bool inFrame_ = false;
    QString frame_;
    bool passThroughLineStart_ = true;
    std::unique_ptr<PassThroughPeer> peer_;
    std::unique_ptr<BootMonitor> bootMonitor_;

    quint64 framesReceived_ = 0; // never goes back: ports count faults by it
    quint64 framesAtPowerUp_ = 0;
    QStringList frameHistory_;
    QHash<QString, int> actionCounts_;
};

} // namespace gp::sim
