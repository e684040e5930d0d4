#include "sim/boot_monitor.h"

#include "sim/sim_unit.h"

#include <algorithm>

namespace gp::sim {

namespace {

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kCan = 0x18;
constexpr int kBlock = 128;
constexpr int kBlockFrame = 3 + kBlock + 2;

// FSR bits.
constexpr uint32_t kFsrReady = 0x1;
constexpr uint32_t kFsrCommandError = 0x2;
constexpr uint32_t kFsrLockError = 0x4;

// Identification words the tool reads to tell the processor apart.
constexpr uint32_t kCpuIdAddr = 0xE000ED00;
constexpr uint32_t kChipIdCidr = 0x400E0740;
constexpr uint32_t kChipIdExid = 0x400E0744;
// The ROM's vector table seen at address 0 while the monitor runs: a stack
// top (not an ARM7 branch, whose top byte would be 0xEA) and a reset vector
// into the ROM at 0x00800000.
constexpr uint32_t kRomStackTop = 0x20001000;
constexpr uint32_t kRomResetVector = 0x00800E19;

// The monitor's version text; the tool only needs a few bytes of it quickly.
const QByteArray kVersionText = QByteArrayLiteral("v1.1 Dec 15 2010 19:25:04\n\r");

uint16_t crc16(const char* data, int n) {
    uint16_t crc = 0;
    for (int i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<uint8_t>(data[i]) << 8));
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

QByteArray leBytes(uint32_t v, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out;
}

uint32_t hexArg(const QByteArray& text, bool* ok) {
    return static_cast<uint32_t>(text.trimmed().toULong(ok, 16));
}

} // namespace

int firmwareVersionOf(const QByteArray& image, int fallback) {
    return imageVersion(image).value_or(fallback);
}

namespace {
uint32_t leWord(const QByteArray& data, qsizetype at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(data[at + i])) << (8 * i);
    return v;
}
uint32_t byteSum(const QByteArray& data, qsizetype length) {
    uint32_t sum = 0;
    for (qsizetype i = 0; i < length; ++i)
        sum += static_cast<uint8_t>(data[i]);
    return sum;
}
} // namespace

bool imageIsComplete(const QByteArray& flash) {
    const qsizetype at = flash.lastIndexOf(QByteArray(kImageTrailerMarker));
    if (at < 0 || at + kImageTrailerSize > flash.size())
        return false;
    const qsizetype markerAt = flash.indexOf(QByteArray(kImageVersionMarker));
    if (markerAt < 0 || markerAt >= at)
        return false;
    return leWord(flash, at + 8) == static_cast<uint32_t>(at) &&
           leWord(flash, at + 12) == byteSum(flash, at);
}

QByteArray sampleFirmwareImage(int version, int size) {
    size = std::max(size, 0x200);
    size = (size + 3) & ~3;
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 7 + 13) & 0xFF);
    // Vector table: initial stack pointer at the top of SRAM, reset handler
    // (Thumb) just behind the table.
    image.replace(0, 4, leBytes(0x20004000, 4));
    image.replace(4, 4, leBytes(0x004000C1, 4));
    const QByteArray marker =
        QByteArray(kImageVersionMarker) + QByteArray::number(version) + QByteArray(1, '\0');
    image.replace(0x100, marker.size(), marker);
    const qsizetype body = size - kImageTrailerSize;
    const QByteArray trailer = QByteArray(kImageTrailerMarker) +
                               leBytes(static_cast<uint32_t>(body), 4) +
                               leBytes(byteSum(image, body), 4);
    image.replace(body, kImageTrailerSize, trailer);
    return image;
}

SambaMonitor::SambaMonitor(SimUnit& unit, SimChip chip, BootMonitorFaults faults)
    : unit_(unit), chip_(chip), flash_(static_cast<size_t>(pageSize() * pages()), 0xFF),
      latch_(static_cast<size_t>(pageSize()), 0xFF),
      sram_(static_cast<size_t>(factsOf(chip).sramBytes), 0) {
    setFaults(faults);
}

void SambaMonitor::setFaults(const BootMonitorFaults& faults) {
    faults_ = faults;
    if (faults_.regionLocked)
        lockBits_ |= 1;
}

void SambaMonitor::enter(double nowMs) {
    (void)nowMs;
    // The firmware clears boot-from-flash before it jumps here, so that a
    // flashing that stops half-way leaves a unit that starts its monitor.
    gpnvm_ &= ~0x2u;
    waiting_ = waitForPowerCycle_;
    phase_ = Phase::Command;
    cmd_.clear();
    xBuf_.clear();
    lastByteMs_.reset();
    std::fill(latch_.begin(), latch_.end(), 0xFF);
}

bool SambaMonitor::powerUp(double nowMs) {
    (void)nowMs;
    waiting_ = false;
    phase_ = Phase::Command;
    cmd_.clear();
    xBuf_.clear();
    lastByteMs_.reset();
    fsrErrors_ = 0;
    std::fill(latch_.begin(), latch_.end(), 0xFF);
    if (!(gpnvm_ & 0x2))
        return false;
    if (factoryFirmware_)
        return true;
    const QByteArray image(reinterpret_cast<const char*>(flash_.data()),
                           static_cast<qsizetype>(flash_.size()));
    if (!imageIsComplete(image))
        return false;
    imageWritten_ = false;
    unit_.setFirmwareVersion(firmwareVersionOf(image));
    return true;
}

void SambaMonitor::program(const QByteArray& image, bool bootFromFlash, qsizetype length) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    unit_.eraseFlash();
    factoryFirmware_ = false;
    const qsizetype n = std::min<qsizetype>(length < 0 ? image.size() : length,
                                            static_cast<qsizetype>(flash_.size()));
    std::copy_n(reinterpret_cast<const uint8_t*>(image.constData()), n, flash_.begin());
    if (bootFromFlash)
        gpnvm_ |= 0x2;
    imageWritten_ = true;
}

QByteArray SambaMonitor::flash(int bytes) const {
    bytes = std::clamp(bytes, 0, static_cast<int>(flash_.size()));
    return QByteArray(reinterpret_cast<const char*>(flash_.data()), bytes);
}

void SambaMonitor::maybeRestart(double nowMs) {
    // Flash written and boot-from-flash set: once the tool has gone quiet,
    // the engineer power-cycles the unit.
    if (autoPowerCycleMs_ <= 0 || !imageWritten_ || !(gpnvm_ & 0x2) || !lastByteMs_ ||
        nowMs - *lastByteMs_ < autoPowerCycleMs_)
        return;
    imageWritten_ = false;
    ++restarts_;
    unit_.powerCycle(nowMs);
}

QByteArray SambaMonitor::feed(char ch, double nowMs) {
    const int restartsBefore = restarts_;
    maybeRestart(nowMs);
    if (restarts_ != restartsBefore)
        return {}; // the byte reached a unit that was only starting up
    if (waiting_)
        return {}; // this chip's monitor needs a power cycle first
    // The quiet spell is the tool's: what keeps the line busy is the tool's
    // traffic, not the unit's own frames (":S#" and the like, sent at 9600
    // baud), which reach the monitor as noise. A program that asks the new
    // firmware for its status every few hundred milliseconds must not keep
    // the engineer from power-cycling the unit.
    const auto byte = static_cast<uint8_t>(ch);
    switch (phase_) {
    case Phase::XmodemIn:
        lastByteMs_ = nowMs;
        return xmodemIn(byte);
    case Phase::XmodemOut:
    case Phase::XmodemOutEot:
        lastByteMs_ = nowMs;
        return xmodemOut(byte);
    case Phase::Command:
        break;
    }
    // No framing: 0x80 (the tool's wake-up), line ends and the tool's late
    // ACK after an XMODEM send are not part of any command.
    if (byte == 0x80 || byte == '\r' || byte == '\n' || byte == kAck) {
        lastByteMs_ = nowMs;
        return {};
    }
    if (byte == '#') {
        const QByteArray text = cmd_;
        cmd_.clear();
        if (text.isEmpty())
            return {};
        if (QByteArrayLiteral("NTVwhoWHOSRG").contains(text[0]))
            lastByteMs_ = nowMs;
        return command(text, nowMs);
    }
    cmd_.append(ch);
    if (cmd_.size() > 64)
        cmd_.clear(); // noise
    return {};
}

QByteArray SambaMonitor::command(const QByteArray& text, double nowMs) {
    (void)nowMs;
    const char letter = text[0];
    const QList<QByteArray> args = text.mid(1).split(',');
    bool ok1 = true;
    bool ok2 = true;
    const uint32_t a = args.isEmpty() || args[0].isEmpty() ? 0 : hexArg(args[0], &ok1);
    const uint32_t b = args.size() > 1 ? hexArg(args[1], &ok2) : 0;
    const bool ok = ok1 && ok2;
    switch (letter) {
    case 'N': // normal (binary) mode; also what the service tool probes with
        return QByteArrayLiteral("\n\r");
    case 'T': // terminal mode: nothing the tools here use
        return {};
    case 'V':
        return faults_.silentVersion ? QByteArray() : kVersionText;
    case 'w':
        return ok ? leBytes(readWord(a), 4) : QByteArray();
    case 'h':
        return ok ? leBytes(readWord(a & ~3u) >> (8 * (a & 2)), 2) : QByteArray();
    case 'o':
        return ok ? leBytes(readByte(a), 1) : QByteArray();
    case 'W':
        if (ok && args.size() > 1)
            writeWord(a, b);
        return {};
    case 'H':
        if (ok && args.size() > 1) {
            writeByte(a, static_cast<uint8_t>(b));
            writeByte(a + 1, static_cast<uint8_t>(b >> 8));
        }
        return {};
    case 'O':
        if (ok && args.size() > 1)
            writeByte(a, static_cast<uint8_t>(b));
        return {};
    case 'S':
        if (!ok || args.size() < 2)
            return {};
        xAddr_ = a;
        xSize_ = b;
        xDone_ = 0;
        xBlock_ = 1;
        xBuf_.clear();
        phase_ = Phase::XmodemIn;
        return QByteArrayLiteral("C");
    case 'R':
        if (!ok || args.size() < 2)
            return {};
        xAddr_ = a;
        xSize_ = b;
        xDone_ = 0;
        xBlock_ = 1;
        phase_ = Phase::XmodemOut;
        return {};
    case 'G':
        if (ok)
            runCode(a);
        return {};
    default:
        return {};
    }
}

QByteArray SambaMonitor::xmodemIn(uint8_t byte) {
    if (xBuf_.isEmpty()) {
        if (byte == kEot) {
            phase_ = Phase::Command;
            return QByteArray(1, static_cast<char>(kAck));
        }
        if (byte == kCan) {
            phase_ = Phase::Command;
            return {};
        }
        if (byte != kSoh)
            return {};
    }
    xBuf_.append(static_cast<char>(byte));
    if (xBuf_.size() < kBlockFrame)
        return {};
    const QByteArray block = xBuf_;
    xBuf_.clear();
    const auto n = static_cast<uint8_t>(block[1]);
    const auto nc = static_cast<uint8_t>(block[2]);
    const uint16_t crc = static_cast<uint16_t>((static_cast<uint8_t>(block[131]) << 8) |
                                               static_cast<uint8_t>(block[132]));
    const QByteArray nak(1, static_cast<char>(kNak));
    if (faults_.refuseBlocks || n + nc != 255 || crc16(block.constData() + 3, kBlock) != crc)
        return nak;
    if (n == static_cast<uint8_t>(xBlock_ - 1))
        return QByteArray(1, static_cast<char>(kAck)); // our ACK got lost: a repeat
    if (n != xBlock_)
        return nak;
    for (int i = 0; i < kBlock && xDone_ < xSize_; ++i, ++xDone_)
        writeByte(xAddr_ + xDone_, static_cast<uint8_t>(block[3 + i]));
    ++xBlock_;
    return QByteArray(1, static_cast<char>(kAck));
}

QByteArray SambaMonitor::outBlock() const {
    QByteArray block;
    block.append(static_cast<char>(kSoh));
    block.append(static_cast<char>(xBlock_));
    block.append(static_cast<char>(255 - xBlock_));
    for (uint32_t i = 0; i < kBlock; ++i)
        block.append(xDone_ + i < xSize_ ? static_cast<char>(readByte(xAddr_ + xDone_ + i)) : '\0');
    const uint16_t crc = crc16(block.constData() + 3, kBlock);
    block.append(static_cast<char>(crc >> 8));
    block.append(static_cast<char>(crc & 0xFF));
    return block;
}

QByteArray SambaMonitor::xmodemOut(uint8_t byte) {
    if (phase_ == Phase::XmodemOut) {
        // Waiting for the receiver's "C" (CRC mode).
        if (byte != 'C')
            return {};
        if (xSize_ == 0) {
            phase_ = Phase::Command;
            return QByteArray(1, static_cast<char>(kEot));
        }
        phase_ = Phase::XmodemOutEot;
        return outBlock();
    }
    if (byte == kNak)
        return outBlock();
    if (byte == kCan) {
        phase_ = Phase::Command;
        return {};
    }
    if (byte != kAck)
        return {};
    xDone_ += kBlock;
    ++xBlock_;
    if (xDone_ >= xSize_) {
        // The receiver's ACK of the EOT is swallowed by the command parser.
        phase_ = Phase::Command;
        return QByteArray(1, static_cast<char>(kEot));
    }
    return outBlock();
}

uint8_t SambaMonitor::readByte(uint32_t addr) const {
    const uint32_t flashEnd = kFlashBase + static_cast<uint32_t>(flash_.size());
    const uint32_t sramEnd = kSramBase + static_cast<uint32_t>(sram_.size());
    if (addr >= kFlashBase && addr < flashEnd)
        return flash_[addr - kFlashBase];
    if (addr >= kSramBase && addr < sramEnd)
        return sram_[addr - kSramBase];
    return static_cast<uint8_t>(readWord(addr & ~3u) >> (8 * (addr & 3)));
}

uint32_t SambaMonitor::readWord(uint32_t addr) const {
    const auto inFlashOrSram = [this](uint32_t a) {
        return (a >= kFlashBase && a + 3 < kFlashBase + flash_.size()) ||
               (a >= kSramBase && a + 3 < kSramBase + sram_.size());
    };
    if (inFlashOrSram(addr)) {
        uint32_t v = 0;
        for (uint32_t i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(readByte(addr + i)) << (8 * i);
        return v;
    }
    switch (addr) {
    case 0x00000000:
        return kRomStackTop;
    case 0x00000004:
        return kRomResetVector;
    case kCpuIdAddr:
        return factsOf(chip_).cpuId;
    case kChipIdCidr:
        if (faults_.unknownChip)
            return 0x2A5A0A61u;
        return factsOf(chip_).chipId;
    case kChipIdExid:
        return 0;
    case kEefc + 0x0:
        return fmr_;
    case kEefc + 0x8: {
        // Reading the status clears its error bits, as on the controller.
        const uint32_t fsr = kFsrReady | fsrErrors_;
        fsrErrors_ = 0;
        return fsr;
    }
    case kEefc + 0xC:
        return frr_;
    default:
        return 0;
    }
}

void SambaMonitor::writeByte(uint32_t addr, uint8_t value) {
    if (addr >= kFlashBase && addr < kFlashBase + flash_.size()) {
        // Writes to the flash land in the page latch; a write-page command
        // then stores the latch into the page it names.
        latch_[(addr - kFlashBase) % latch_.size()] = value;
    } else if (addr >= kSramBase && addr < kSramBase + sram_.size()) {
        sram_[addr - kSramBase] = value;
    }
}

void SambaMonitor::writeWord(uint32_t addr, uint32_t value) {
    if (addr == kEefc + 0x4) {
        flashCommand(value);
        return;
    }
    if (addr == kEefc) {
        fmr_ = value;
        return;
    }
    for (uint32_t i = 0; i < 4; ++i)
        writeByte(addr + i, static_cast<uint8_t>(value >> (8 * i)));
}

bool SambaMonitor::regionLockedForPage(int page) const {
    const int pagesPerRegion = pages() / lockRegions();
    return (lockBits_ >> (page / pagesPerRegion)) & 1u;
}

void SambaMonitor::flashCommand(uint32_t fcr) {
    // Errors add up until the status register is read.
    if ((fcr >> 24) != 0x5A) {
        fsrErrors_ |= kFsrCommandError;
        return;
    }
    const uint32_t cmd = fcr & 0xFF;
    const int arg = static_cast<int>((fcr >> 8) & 0xFFFF);
    const int ps = pageSize();
    const int pagesPerRegion = pages() / lockRegions();
    switch (cmd) {
    case 0x05: // erase all
        if (faults_.commandError) {
            fsrErrors_ |= kFsrCommandError;
            return;
        }
        if (faults_.lockError || lockBits_ != 0) {
            fsrErrors_ |= kFsrLockError;
            return;
        }
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        imageWritten_ = false;
        factoryFirmware_ = false;
        // The firmware keeps the settings and the logo in flash too.
        unit_.eraseFlash();
        return;
    case 0x01: // write page: can only clear bits
    case 0x03: // erase and write page
    {
        if (arg >= pages()) {
            fsrErrors_ |= kFsrCommandError;
            return;
        }
        if (regionLockedForPage(arg)) {
            fsrErrors_ |= kFsrLockError;
            return;
        }
        auto page = flash_.begin() + static_cast<long>(arg) * ps;
        for (int i = 0; i < ps; ++i)
            page[i] = cmd == 0x01 ? static_cast<uint8_t>(page[i] & latch_[static_cast<size_t>(i)])
                                  : latch_[static_cast<size_t>(i)];
        if (faults_.corruptAfterWrite && !corrupted_) {
            page[7] ^= 0x10;
            corrupted_ = true;
        }
        std::fill(latch_.begin(), latch_.end(), 0xFF);
        imageWritten_ = true;
        factoryFirmware_ = false;
        return;
    }
    case 0x08: // set lock bit
    case 0x09: // clear lock bit
        if (arg >= pages()) {
            fsrErrors_ |= kFsrCommandError;
            return;
        }
        if (cmd == 0x08)
            lockBits_ |= 1u << (arg / pagesPerRegion);
        else
            lockBits_ &= ~(1u << (arg / pagesPerRegion));
        return;
    case 0x0A: // get lock bits
        frr_ = lockBits_;
        return;
    case 0x0B: // set GPNVM bit
    case 0x0C: // clear GPNVM bit
        if (arg > 2) {
            fsrErrors_ |= kFsrCommandError;
            return;
        }
        if (cmd == 0x0B)
            gpnvm_ |= 1u << arg;
        else
            gpnvm_ &= ~(1u << arg);
        return;
    case 0x0D: // get GPNVM bits
        frr_ = gpnvm_;
        return;
    case 0x00: // get descriptor: not needed by the tool
        frr_ = 0;
        return;
    default:
        fsrErrors_ |= kFsrCommandError;
        return;
    }
}

void SambaMonitor::runCode(uint32_t vectors) {
    // The only code the tool runs is its copy routine, uploaded 0x20 bytes
    // below its vector block: stack, entry, destination, source, word count.
    const uint32_t entry = readWord(vectors + 4);
    if ((entry & ~1u) != vectors - 0x20)
        return;
    const uint32_t dst = readWord(vectors + 8);
    const uint32_t src = readWord(vectors + 0xC);
    const uint32_t words = readWord(vectors + 0x10);
    for (uint32_t i = 0; i < words && i < 0x10000; ++i)
        writeWord(dst + 4 * i, readWord(src + 4 * i));
}

} // namespace gp::sim
