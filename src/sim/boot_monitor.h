#pragma once
// The processor's SAM-BA boot monitor, as the flashing tool meets it on the
// unit's UART after ":SAMBA#": ASCII commands ending in "#", raw replies
// without line ends, XMODEM-CRC for bulk data, the flash controller (EEFC)
// behind a few memory-mapped words, and the copy routine the tool uploads
// into SRAM, whose effect is carried out here instead of running ARM code.
//
// As on the chip, the unit leaves the monitor only through a reset or a power
// cycle, and it then runs the image in flash only when boot-from-flash
// (GPNVM bit 1) is set and the image is complete (its version marker and its
// checksum trailer, see imageIsComplete); otherwise the ROM starts the
// monitor again. The unit's firmware clears boot-from-flash before it jumps
// into the monitor, so a unit whose flashing stopped half-way stays in its
// boot loader. For tests that cannot power-cycle, setAutoPowerCycle() makes
// the first byte after a quiet spell (once an image was written with
// boot-from-flash set) find the unit power-cycled. The new firmware reports
// the version found in the image (see firmwareVersionOf).

#include "platform/firmware_image.h"
#include "sim/sim_hooks.h"
#include "sim/sim_profile.h"

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

namespace gp::sim {

class SimUnit;

// Failures a real monitor or flash can show, for tests of the tool's runs.
struct BootMonitorFaults {
    bool silentVersion = false;     // no answer to "V#": "No device found"
    bool regionLocked = false;      // region 0 locked before the erase
    bool lockError = false;         // FSR reports a lock error on erase
    bool commandError = false;      // FSR reports a command error on erase
    bool refuseBlocks = false;      // every XMODEM block gets NAK
    bool unknownChip = false;       // CHIPID that no tool knows
    bool corruptAfterWrite = false; // one byte of the first written page flips
};

// What a firmware image without the version marker (see imageVersion)
// reports.
inline constexpr int kDefaultImageVersion = 100;

int firmwareVersionOf(const QByteArray& image, int fallback = kDefaultImageVersion);
// The trailer that closes a firmware image: "QRUFWSUM", the length of the
// image before the trailer and the sum of those bytes, both 32-bit little
// endian. A flash that holds the version marker and a trailer whose sum
// matches holds a complete image.
inline constexpr char kImageTrailerMarker[] = "QRUFWSUM";
inline constexpr int kImageTrailerSize = 16;
bool imageIsComplete(const QByteArray& flash);
// A plausible firmware image: a Cortex-M vector table, filler, the marker
// with the version, and the trailer. size is rounded up to whole 4-byte
// words.
QByteArray sampleFirmwareImage(int version, int size = 6000);

class SambaMonitor : public BootMonitor {
  public:
    // The quiet time tests usually give setAutoPowerCycle().
    static constexpr double kRestartQuietMs = 400.0;
    static constexpr uint32_t kFlashBase = 0x00400000;
    static constexpr uint32_t kSramBase = 0x20000000;
    static constexpr uint32_t kEefc = 0x400E0A00;

    SambaMonitor(SimUnit& unit, SimChip chip, BootMonitorFaults faults = {});

    void enter(double nowMs) override;
    QByteArray feed(char byte, double nowMs) override;
    bool powerUp(double nowMs) override;

    // Tests that cannot power-cycle the unit: after an image was written with
    // boot-from-flash set, the first byte after ms of quiet finds the unit
    // power-cycled. 0 turns it off (the default: only a real power cycle).
    void setAutoPowerCycle(double ms) { autoPowerCycleMs_ = ms; }
    // Like SAM3N2B units: after ":SAMBA#" the monitor answers nothing until
    // the unit has been power-cycled.
    void setWaitForPowerCycle(bool on) { waitForPowerCycle_ = on; }
    bool waitingForPowerCycle() const { return waiting_; }
    // What the flashing tool's erase, write and boot-from-flash do, for tests
    // with a stand-in tool. length bytes of image (all when -1).
    void program(const QByteArray& image, bool bootFromFlash, qsizetype length = -1);

    void setFaults(const BootMonitorFaults& faults);
    SimChip chip() const { return chip_; }
    int pageSize() const { return factsOf(chip_).pageSize; }
    int pages() const { return factsOf(chip_).pages; }
    int lockRegions() const { return factsOf(chip_).lockRegions; }
    uint32_t gpnvm() const { return gpnvm_; }
    uint32_t lockBits() const { return lockBits_; }
    // The flash contents from the start, as many bytes as asked.
    QByteArray flash(int bytes) const;
    int restarts() const { return restarts_; }

  private:
    enum class Phase { Command, XmodemIn, XmodemOut, XmodemOutEot };

    QByteArray command(const QByteArray& text, double nowMs);
    QByteArray xmodemIn(uint8_t byte);
    QByteArray xmodemOut(uint8_t byte);
    QByteArray outBlock() const;
    uint32_t readWord(uint32_t addr) const;
    uint8_t readByte(uint32_t addr) const;
    void writeWord(uint32_t addr, uint32_t value);
    void writeByte(uint32_t addr, uint8_t value);
    void flashCommand(uint32_t fcr);
    void runCode(uint32_t vectors);
    bool regionLockedForPage(int page) const;
    void maybeRestart(double nowMs);

    SimUnit& unit_;
    SimChip chip_;
    BootMonitorFaults faults_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> latch_;
    std::vector<uint8_t> sram_;
    uint32_t gpnvm_ = 0x2; // the unit left the factory booting from flash
    uint32_t lockBits_ = 0;
    // Lock and command errors stay until the status register is read.
    mutable uint32_t fsrErrors_ = 0;
    uint32_t frr_ = 0;
    uint32_t fmr_ = 0;
    bool imageWritten_ = false;
    // The flash still holds the firmware the unit left the factory with
    // (not modelled byte for byte); an erase or a page write ends that.
    bool factoryFirmware_ = true;
    bool corrupted_ = false;
    int restarts_ = 0;
    double autoPowerCycleMs_ = 0.0;
    bool waitForPowerCycle_ = false;
    bool waiting_ = false;

    Phase phase_ = Phase::Command;
    QByteArray cmd_;
    std::optional<double> lastByteMs_;
    // XMODEM transfer in progress.
    uint32_t xAddr_ = 0;
    uint32_t xSize_ = 0;
    uint32_t xDone_ = 0;
    uint8_t xBlock_ = 1;
    QByteArray xBuf_;
};

} // namespace gp::sim
