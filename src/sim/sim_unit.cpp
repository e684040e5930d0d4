#include "sim/sim_unit.h"

#include "sim/co2_sensor.h"

#include "sim/boot_monitor.h"

#include "link/codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace gp::sim {

namespace {

QByteArray latin1(const QString& text) {
    return text.toLatin1();
}

const QByteArray kRejected = QByteArrayLiteral("?#");

bool isUpperHex(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

QByteArray itemReply(QChar letter, int item, const QString& field) {
    return latin1(QStringLiteral("!") + letter + HexByte(item) + field + QStringLiteral("#"));
}

// A slow wave over virtual time, so polled readings drift like a room does.
double wave(double nowMs, double periodS, double phase) {
    return std::sin(2.0 * std::numbers::pi * nowMs / (periodS * 1000.0) + phase);
}

struct InputModel {
    float base;
    float swing;
    double periodS;
};

// Input items 0..18 as the unit reports them (IEEE single precision).
constexpr std::array<InputModel, SimUnit::kInputItems> kInputs{{
    {21.5f, 0.3f, 240}, // 00 room temperature, degrees C
    {45.0f, 1.5f, 300}, // 01 room humidity, %
    {21.6f, 0.3f, 240}, // 02 humidity chip temperature
    {45.2f, 1.5f, 300}, // 03 humidity chip humidity
    {21.4f, 0.3f, 240}, // 04 NTC 10k temperature
    {18.2f, 0.2f, 600}, // 05 external sensor X5
    {10850, 40, 180},   // 06 resistive input 1, ohms
    {10210, 40, 200},   // 07 resistive input 2, ohms
    {320, 40, 120},     // 08 light, lux
    {620, 60, 400},     // 09 CO2, ppm
    {21.0f, 0, 1},      // 0A active set point
    {0, 0, 1},          // 0B pressure difference, Pa
    {8.5f, 0.5f, 900},  // 0C outside temperature
    {2230, 12, 240},    // 0D NTC raw ADC counts
    {23.0f, 0.2f, 700}, // 0E floor temperature
    {9.3f, 0.4f, 300},  // 0F dew point
    {1843, 20, 300},    // 10 humidity raw counts
    {24.1f, 0.05f, 60}, // 11 supply voltage, V
    {29.5f, 0.4f, 500}, // 12 processor temperature
}};

struct ChannelModel {
    int base;
    int swing;
    double periodS;
};

// Analogue channels 0..12, raw 12-bit readings.
constexpr std::array<ChannelModel, SimUnit::kAnalogueChannels> kChannels{{
    {2227, 15, 240}, // 0 NTC temperature sensor
    {1350, 60, 120}, // 1 resistor 1 / light
    {2048, 5, 90},   // 2 resistor 2 / potentiometer
    {2010, 8, 240},  // 3 NTC compensation
    {410, 2, 60},    // 4..7 output calibration feedback
    {1230, 2, 60},
    {2050, 2, 60},
    {2870, 2, 60},
    {40, 6, 30},    // 8 touch X (not touched)
    {35, 6, 30},    // 9 touch Y
    {12, 4, 30},    // 10 touch pressure
    {3300, 10, 80}, // 11 supply monitor
    {1490, 3, 200}, // 12 internal reference
}};

} // namespace

SimUnit::SimUnit(SimProfile profile)
    : profile_(std::move(profile)), factory_(factoryRegisters(profile_)), ram_(factory_),
      nonvolatile_(factory_), logo_(factoryLogo()), resetCause_(profile_.initialResetCause),
      peer_(std::make_unique<Co2Sensor>()),
      bootMonitor_(std::make_unique<SambaMonitor>(*this, profile_.chip)) {}

SimUnit::~SimUnit() = default;

QByteArray SimUnit::receive(char byte, double nowMs) {
    switch (mode_) {
    case Mode::BootMonitor:
        return bootMonitor_->feed(byte, nowMs);
    case Mode::PassThrough:
        return passThroughByte(byte, nowMs);
    case Mode::Protocol:
        break;
    }
    return protocolByte(byte, nowMs);
}

QByteArray SimUnit::receive(const QByteArray& bytes, double nowMs) {
    QByteArray out;
    for (char b : bytes)
        out += receive(b, nowMs);
    return out;
}

QByteArray SimUnit::poll(double nowMs) {
    if (mode_ == Mode::PassThrough)
        return peer_->poll(nowMs);
    return {};
}

LineSettings SimUnit::lineSettings() const {
    return mode_ == Mode::BootMonitor ? bootMonitor_->line() : profile_.line;
}

QByteArray SimUnit::protocolByte(char byte, double nowMs) {
    if (isStartingUp(nowMs)) {
        // The firmware is not running yet: whatever arrives is lost.
        inFrame_ = false;
        frame_.clear();
        return {};
    }
    if (byte == ':') {
        // A colon always starts a new frame, so the unit finds the next
        // frame after noise or a cut-off frame.
        inFrame_ = true;
        frame_.clear();
        return {};
    }
    if (!inFrame_)
        return {};
    if (byte == '#') {
        inFrame_ = false;
        ++framesReceived_;
        frameHistory_.append(QStringLiteral(":") + frame_ + QStringLiteral("#"));
        if (frameHistory_.size() > 4096)
            frameHistory_.removeFirst();
        QByteArray reply = answer(frame_, nowMs);
        frame_.clear();
        if (reply.startsWith('?'))
            ++rejectedFrames_;
        return reply;
    }
    frame_ += QChar::fromLatin1(byte);
    if (frame_.size() > kMaxFrameLength) {
        inFrame_ = false;
        frame_.clear();
    }
    return {};
}

QByteArray SimUnit::passThroughByte(char byte, double nowMs) {
    // Sensor lines never start with "!", so one standing at the start of a
    // line is the unit's own signal to take the line back.
    if (byte == '!' && passThroughLineStart_) {
        mode_ = Mode::Protocol;
        inFrame_ = false;
        frame_.clear();
        peer_->end(nowMs);
        return {};
    }
    passThroughLineStart_ = byte == '\n';
    return peer_->feed(byte, nowMs);
}

QByteArray SimUnit::answer(const QString& body, double nowMs) {
    if (body.isEmpty())
        return kRejected;
    const QChar letter = body[0];
    const QString rest = body.mid(1);
    if (letter == 'S')
        return rest.isEmpty() ? statusReply() : systemAction(rest, nowMs);
    if (!QStringLiteral("RWLIUDA").contains(letter))
        return kRejected;
    if ((rest.size() != 2 && rest.size() != 10) || !isUpperHex(rest))
        return kRejected;
    const int item = ParseHexByte(rest);
    if (rest.size() == 2)
        return readItem(letter, item, nowMs);
    return writeItem(letter, item, ParseHexLong(rest.mid(2)), nowMs);
}

QByteArray SimUnit::readItem(QChar letter, int item, double nowMs) {
    switch (letter.toLatin1()) {
    case 'R':
        return itemReply(letter, item, HexLong(ram_[static_cast<size_t>(item)]));
    case 'L':
        if (item >= kLogoWords)
            return kRejected;
        return itemReply(letter, item, HexLong(logo_[static_cast<size_t>(item)]));
    case 'I':
        if (item >= kInputItems)
            return kRejected;
        return itemReply(letter, item, HexLong(std::bit_cast<int32_t>(input(item, nowMs))));
    case 'U':
        if (item <= 3) {
            // The unique id travels as text: eight hex digits, most
            // significant first, not in the value field's byte order.
            const auto part = profile_.uniqueId[static_cast<size_t>(item)];
            return itemReply(letter, item,
                             QStringLiteral("%1").arg(part, 8, 16, QLatin1Char('0')).toUpper());
        }
        if (item == 4)
            return itemReply(letter, item, HexLong(profile_.firmwareVersion & 0xFFFF));
        if (item == 5)
            return itemReply(letter, item,
                             HexLong(chipIdentifier(profile_.chip, profile_.chipRevision)));
        return kRejected;
    case 'D':
        if (item < 0x01 || item > 0x0E)
            return kRejected;
        return itemReply(letter, item, HexLong(diagnostic(item, nowMs)));
    case 'A':
        if (item >= kAnalogueChannels)
            return kRejected;
        return itemReply(letter, item, HexLong(analogue(item, nowMs)));
    default:
        return kRejected; // "W" needs a value
    }
}

QByteArray SimUnit::writeItem(QChar letter, int item, int32_t value, double nowMs) {
    (void)nowMs;
    switch (letter.toLatin1()) {
    case 'W':
        // Register 00 holds the firmware's layout code; it is not a setting.
        if (item == 0)
            return kRejected;
        if (!profile_.stuckRegisters.contains(item))
            ram_[static_cast<size_t>(item)] = value;
        return itemReply(letter, item, HexLong(value));
    case 'L':
        if (item >= kLogoWords)
            return kRejected;
        // The logo goes straight to flash: it survives resets without a burn.
        logo_[static_cast<size_t>(item)] = value;
        return itemReply(letter, item, HexLong(value));
    case 'D':
        switch (item) {
        case 0x03:
            debugFlags_ = value;
            break;
        case 0x04:
            debugCommand_ = value;
            break;
        case 0x08:
            debugWord_ = value;
            break;
        case 0x0A:
            // The screen rate is written and then the unit is reset without
            // a burn, so the unit keeps it permanently at once.
            screenRate_ = value;
            break;
        default:
            return kRejected;
        }
        return itemReply(letter, item, HexLong(value));
    default:
        return kRejected; // R, I, U and A are read-only
    }
}

QByteArray SimUnit::systemAction(const QString& action, double nowMs) {
    const auto acknowledge = [this]() {
        return profile_.acknowledgeActions ? statusReply() : QByteArray();
    };
    if (action == QLatin1String("R")) {
        actionCounts_[action] += 1;
        reset(3, nowMs); // software reset; the unit is gone before it could answer
        return {};
    }
    if (action == QLatin1String("Z")) {
        actionCounts_[action] += 1;
        mode_ = Mode::PassThrough;
        passThroughLineStart_ = true;
        peer_->begin(nowMs);
        return {};
    }
    if (action == QLatin1String("AMBA")) {
        actionCounts_[action] += 1;
        mode_ = Mode::BootMonitor;
        bootMonitor_->enter(nowMs);
        return {};
    }
    if (action == QLatin1String("P")) {
        burn(0x00, 0xFF);
    } else if (action == QLatin1String("D")) {
        std::copy(factory_.begin() + kFirstUserRegister, factory_.end(),
                  ram_.begin() + kFirstUserRegister);
    } else if (action == QLatin1String("U")) {
        burn(kFirstUserRegister, 0xFF);
    } else if (action == QLatin1String("F")) {
        burn(kFirstSensorRegister, kLastSensorRegister);
    } else if (action == QLatin1String("C")) {
        calibrateOutputs();
    } else if (action != QLatin1String("B") && action != QLatin1String("A")) {
        return kRejected;
    }
    actionCounts_[action] += 1;
    return acknowledge();
}

void SimUnit::burn(int first, int last) {
    std::copy(ram_.begin() + first, ram_.begin() + last + 1, nonvolatile_.begin() + first);
}

void SimUnit::calibrateOutputs() {
    // Each output measures its own offset and gain; the values differ a
    // little from output to output and from unit to unit, around the
    // nominal 409.5 DAC counts per volt.
    const auto seed = static_cast<uint32_t>(profile_.serialNumber) * 2654435761u;
    for (int ao = 0; ao < 4; ++ao) {
        const uint32_t h = (seed ^ (0x9E3779B9u * static_cast<uint32_t>(ao + 1))) >> 7;
        const float intercept = -12.0f + static_cast<float>(h % 2400) / 100.0f;
        const float gain = 409.5f * (0.99f + static_cast<float>((h >> 12) % 200) / 10000.0f);
        const auto lo = static_cast<size_t>(0x10 + 2 * ao);
        ram_[lo] = std::bit_cast<int32_t>(intercept);
        ram_[lo + 1] = std::bit_cast<int32_t>(gain);
        // The unit stores its calibration itself; it does not wait for a burn.
        nonvolatile_[lo] = ram_[lo];
        nonvolatile_[lo + 1] = ram_[lo + 1];
    }
}

int32_t SimUnit::status() const {
    return static_cast<int32_t>((resetCause_ & 0xFF) << 8);
}

QByteArray SimUnit::statusReply() const {
    return latin1(QStringLiteral("!S") + HexLong(status()) + QStringLiteral("#"));
}

int32_t SimUnit::diagnostic(int item, double nowMs) const {
    const auto ms = static_cast<int64_t>(nowMs);
    switch (item) {
    case 0x01:
        return static_cast<int32_t>(ms % kAnalogueChannels); // channel being converted
    case 0x02:
        return static_cast<int32_t>(850 + (ms / 250) % 37); // main loop time, microseconds
    case 0x03:
        return debugFlags_;
    case 0x04:
        return debugCommand_;
    case 0x05:
        return static_cast<int32_t>((nowMs - resetAtMs_) / 1000.0); // seconds since reset
    case 0x06:
        return static_cast<int32_t>(framesReceived_ - framesAtPowerUp_);
    case 0x07:
        return static_cast<int32_t>(rejectedFrames_);
    case 0x08:
        return debugWord_;
    case 0x09:
        return 0x0340; // free stack, bytes
    case 0x0A:
        return screenRate_;
    case 0x0B:
        return 0x1200; // free heap, bytes
    case 0x0C:
        return static_cast<int32_t>(resetsSincePowerUp_);
    case 0x0D:
        return 0; // touch events
    case 0x0E:
        return resetCause_;
    default:
        return 0;
    }
}

float SimUnit::input(int item, double nowMs) const {
    const auto& m = kInputs.at(static_cast<size_t>(item));
    return m.base + m.swing * static_cast<float>(wave(nowMs, m.periodS, item * 0.7));
}

int32_t SimUnit::analogue(int channel, double nowMs) const {
    const auto& m = kChannels.at(static_cast<size_t>(channel));
    // A slow drift plus a little conversion noise that changes every 10 ms.
    const auto slot = static_cast<uint32_t>(nowMs / 10.0);
    const int noise =
        static_cast<int>(((slot * 2654435761u) ^ (static_cast<uint32_t>(channel) * 40503u)) >> 29) -
        3;
    const int value =
        m.base + static_cast<int>(std::lround(m.swing * wave(nowMs, m.periodS, channel))) + noise;
    return std::clamp(value, 0, 4095);
}

void SimUnit::reset(int cause, double nowMs) {
    if (mode_ == Mode::PassThrough)
        peer_->end(nowMs);
    mode_ = Mode::Protocol;
    ram_ = nonvolatile_;
    resetCause_ = cause;
    resetAtMs_ = nowMs;
    silentUntil_ = nowMs + profile_.resetSilenceMs;
    debugFlags_ = 0;
    debugCommand_ = 0;
    debugWord_ = 0;
    inFrame_ = false;
    frame_.clear();
    ++resetsSincePowerUp_;
}

void SimUnit::powerCycle(double nowMs) {
    reset(0, nowMs);
    resetsSincePowerUp_ = 0;
    framesAtPowerUp_ = framesReceived_;
    rejectedFrames_ = 0;
    // The chip starts the image in flash only when boot-from-flash is set
    // and the image is whole; otherwise its ROM starts the boot monitor.
    if (!bootMonitor_->powerUp(nowMs))
        mode_ = Mode::BootMonitor;
}

void SimUnit::eraseFlash() {
    std::fill(ram_.begin() + 1, ram_.end(), -1);
    std::fill(nonvolatile_.begin() + 1, nonvolatile_.end(), -1);
    logo_.fill(-1);
}

void SimUnit::setPassThroughPeer(std::unique_ptr<PassThroughPeer> peer) {
    peer_ = peer ? std::move(peer) : std::make_unique<SilentPassThroughPeer>();
}

void SimUnit::setBootMonitor(std::unique_ptr<BootMonitor> monitor) {
    bootMonitor_ = monitor ? std::move(monitor) : std::make_unique<SilentBootMonitor>();
}

} // namespace gp::sim
