#pragma once
// The unit's CO2 sensor, as seen through the unit's pass-through. It speaks
// ASCII lines ending in CR LF. In stream mode ("K 1", the mode it powers up
// in) it sends a line " Z 00450 z 00449" about once a second: the filtered
// and the unfiltered concentration in ppm. "K 0" stops the stream (command
// mode). It answers commands in either mode:
//
//   "a" / "A n"     filter                  " a 00016" / " A 00016"
//   "p NN"          read parameter NN       " p 000NN 00VVV"
//   "P NN V"        write parameter NN      " P 000NN 00VVV"
//   "R NN"          read register NN        " R 000NN 0VVVV"
//   "G"             calibrate to fresh air  " G 00400"
//   "@", "*"        firmware and status     " @ ...", " * ..."
//   "K n"           mode                    " K 0000n"
//
// Anything it does not understand, and a parameter it does not have, gets
// " ?". Parameters are bytes; a two-byte setting is two parameters, high
// first.

#include "sim/sim_hooks.h"

#include <QByteArray>
#include <QHash>
#include <array>

namespace gp::sim {

struct Co2SensorOptions {
    // Older sensors lack the proportional and threshold calibration:
    // parameters 16, 17 and 18 and the registers behind them.
    bool advancedCalibration = true;
    double streamPeriodMs = 1000.0;
    // The concentration drifts slowly around this level.
    int baseLevel = 520;
};

class Co2Sensor : public PassThroughPeer {
  public:
    explicit Co2Sensor(Co2SensorOptions options = {});

    void begin(double nowMs) override;
    QByteArray feed(char byte, double nowMs) override;
    QByteArray poll(double nowMs) override;
    void end(double nowMs) override;

    // Inspection for tests.
    int param(int n) const { return params_.at(static_cast<size_t>(n)); }
    void setParam(int n, int value) { params_.at(static_cast<size_t>(n)) = value; }
    int filter() const { return filter_; }
    bool streaming() const { return streaming_; }
    int level(double nowMs) const;
    // Command lines taken in, in order (without CR LF).
    const QList<QByteArray>& commands() const { return commands_; }

  private:
    QByteArray answer(const QByteArray& line, double nowMs);
    bool hasParam(int n) const;

    Co2SensorOptions options_;
    std::array<int, 32> params_{};
    QHash<int, int> registers_;
    int filter_ = 16;
    int offset_ = 0;
    bool streaming_ = true;
    double nextStreamMs_ = 0.0;
    QByteArray line_;
    QList<QByteArray> commands_;
};

} // namespace gp::sim
