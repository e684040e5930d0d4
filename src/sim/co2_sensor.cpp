#include "sim/co2_sensor.h"

#include <QList>
#include <cmath>
#include <numbers>

namespace gp::sim {

namespace {

QByteArray five(int v) {
    return QByteArray::number(v).rightJustified(5, '0');
}

QByteArray reply(char key, int first) {
    return QByteArray(" ") + key + ' ' + five(first) + "\r\n";
}

QByteArray reply(char key, int first, int second) {
    return QByteArray(" ") + key + ' ' + five(first) + ' ' + five(second) + "\r\n";
}

std::optional<int> number(const QByteArray& text) {
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

} // namespace

Co2Sensor::Co2Sensor(Co2SensorOptions options) : options_(options) {
    // Factory settings: interval 8 days (13824 in 1/1728 day), the first
    // calibration after 1 day (stored as 13824 - 1728), standard method,
    // calibration target and ambient 400 ppm, proportion 50, threshold 300.
    auto two = [this](int high, int value) {
        params_.at(static_cast<size_t>(high)) = value / 256;
        params_.at(static_cast<size_t>(high + 1)) = value % 256;
    };
    two(3, 13824 - 1728);
    two(5, 13824);
    params_[7] = 1;
    two(8, 400);
    two(10, 400);
    two(12, 1000);
    params_[16] = 50;
    two(17, 300);
    registers_ = {{69, 12}, {82, 3}, {83, 232}, {84, 0}, {85, 180}};
}

bool Co2Sensor::hasParam(int n) const {
    if (n < 0 || n >= static_cast<int>(params_.size()))
        return false;
    return options_.advancedCalibration || n < 16 || n > 18;
}

int Co2Sensor::level(double nowMs) const {
    // Two slow swings, as a room fills and airs.
    const double t = nowMs / 1000.0;
    const double v = options_.baseLevel + 60.0 * std::sin(2 * std::numbers::pi * t / 180.0) +
                     12.0 * std::sin(2 * std::numbers::pi * t / 23.0);
    return std::max(0, static_cast<int>(std::lround(v)) + offset_);
}

void Co2Sensor::begin(double nowMs) {
    line_.clear();
    nextStreamMs_ = nowMs + options_.streamPeriodMs;
}

void Co2Sensor::end(double) {
    line_.clear();
}

QByteArray Co2Sensor::poll(double nowMs) {
    if (!streaming_ || nowMs < nextStreamMs_)
        return {};
    nextStreamMs_ += options_.streamPeriodMs;
    if (nextStreamMs_ < nowMs)
        nextStreamMs_ = nowMs + options_.streamPeriodMs;
    const int ppm = level(nowMs);
    return QByteArray(" Z ") + five(ppm) + " z " + five(ppm + (ppm % 3) - 1) + "\r\n";
}

QByteArray Co2Sensor::feed(char byte, double nowMs) {
    if (byte == '\r')
        return {};
    if (byte != '\n') {
        if (line_.size() < 64)
            line_ += byte;
        return {};
    }
    const QByteArray line = std::exchange(line_, QByteArray());
    commands_ << line;
    return answer(line, nowMs);
}

QByteArray Co2Sensor::answer(const QByteArray& line, double nowMs) {
    const QList<QByteArray> parts = line.split(' ');
    const QByteArray cmd = parts.value(0);
    const auto arg = [&](int i) { return number(parts.value(i)); };
    static const QByteArray unknown = " ?\r\n";
    if (cmd == "K") {
        const auto mode = arg(1);
        if (!mode || (*mode != 0 && *mode != 1))
            return unknown;
        streaming_ = *mode == 1;
        if (streaming_)
            nextStreamMs_ = nowMs + options_.streamPeriodMs;
        return reply('K', *mode);
    }
    if (cmd == "a" && parts.size() == 1)
        return reply('a', filter_);
    if (cmd == "A") {
        const auto v = arg(1);
        if (!v || *v < 0 || *v > 65535)
            return unknown;
        filter_ = *v;
        return reply('A', filter_);
    }
    if (cmd == "p") {
        const auto n = arg(1);
        if (!n || !hasParam(*n))
            return unknown;
        return reply('p', *n, param(*n));
    }
    if (cmd == "P") {
        const auto n = arg(1);
        const auto v = arg(2);
        if (!n || !v || !hasParam(*n) || *v < 0 || *v > 255)
            return unknown;
        setParam(*n, *v);
        return reply('P', *n, *v);
    }
    if (cmd == "R") {
        const auto n = arg(1);
        if (!n || !registers_.contains(*n))
            return unknown;
        if (!options_.advancedCalibration && *n >= 82)
            return unknown;
        return reply('R', *n, registers_.value(*n));
    }
    if (cmd == "G") {
        // Calibrated to fresh air: what it sees now is taken as 400 ppm.
        offset_ += 400 - level(nowMs);
        return reply('G', 400);
    }
    if (cmd == "@")
        return reply('@', 1, 4);
    if (cmd == "*")
        return reply('*', 0, 0);
    return unknown;
}

} // namespace gp::sim
