#pragma once
// The two modes in which the unit stops speaking its own protocol and hands
// the serial line to something else. The simulated unit only switches the
// byte stream; what answers on the other side is plugged in here.

#include "platform/serial_port.h"

#include <QByteArray>

namespace gp::sim {

// The unit's CO2 sensor, reached after ":SZ#". The unit passes every byte it
// receives to the sensor unchanged and sends back whatever the sensor sends,
// until a "!" standing alone at the start of a line ends the pass-through
// (that "!" belongs to the unit and does not reach the sensor).
class PassThroughPeer {
  public:
    virtual ~PassThroughPeer() = default;
    // The unit has connected the line through to the sensor.
    virtual void begin(double nowMs) { (void)nowMs; }
    // One byte from the program; answers the bytes the sensor sends back now.
    virtual QByteArray feed(char byte, double nowMs) = 0;
    // Bytes the sensor sends on its own (a sensor in stream mode), asked
    // for as virtual time passes.
    virtual QByteArray poll(double nowMs) {
        (void)nowMs;
        return {};
    }
    // The unit has taken the line back.
    virtual void end(double nowMs) { (void)nowMs; }
};

// A sensor that never answers: the default until a model of the sensor is
// plugged in.
class SilentPassThroughPeer : public PassThroughPeer {
  public:
    QByteArray feed(char, double) override { return {}; }
};

// The processor's boot monitor, entered after ":SAMBA#". From then on the
// unit answers no frame of its own protocol; every byte goes to the monitor,
// which speaks at its own line speed. Only a power cycle brings the
// firmware back.
class BootMonitor {
  public:
    virtual ~BootMonitor() = default;
    // The unit's firmware jumped into the monitor (":SAMBA#").
    virtual void enter(double nowMs) { (void)nowMs; }
    // The unit was reset or power-cycled. Answers true when it starts its
    // firmware, false when it comes up in the monitor again.
    virtual bool powerUp(double nowMs) {
        (void)nowMs;
        return true;
    }
    virtual QByteArray feed(char byte, double nowMs) = 0;
    // The monitor listens at 115200 baud, not at the firmware's 9600.
    virtual LineSettings line() const { return LineSettings{115200, 'n', 8, 1}; }
};

// A monitor that never answers: the default until a model is plugged in.
class SilentBootMonitor : public BootMonitor {
  public:
    QByteArray feed(char, double) override { return {}; }
};

} // namespace gp::sim
