#pragma once
// The unit's field-bus settings: bus address, baud rate, parity and stop bits
// packed into register 21, and the BACnet device instance in register 24.
// The comms frame gathers its controls into CommsControls; everything about
// the registers happens here.

#include "link/link.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace gp {

class LangDll;

// Register 21: byte 0 bus address, byte 1 baud index, byte 2 parity index,
// byte 3 stop-bit index.
inline constexpr int kCommsRegister = 0x21;
// Read and written back beside the comms register by the unit tool.
inline constexpr int kCommsCompanionRegister = 0x23;
// The BACnet device instance: the device id control shows, stores and writes
// this one register.
inline constexpr int kDeviceIdRegister = 0x24;
// Our product line's BACnet vendor id. The device instance is only set on
// units that carry it (register 04, low 16 bits).
inline constexpr int OwnVendorId = 1077;

inline constexpr int kMaxAddress = 247;
// Whether a typed address is one the unit can take (a number 0..247, rounded
// as StoreCommsControls rounds it).
bool addressAccepted(const QString& text);
inline constexpr int kMaxDeviceInstance = 4194303; // 2^22 - 1

struct CommsSettings {
    int address = 0; // 0..255 as stored; 0..247 accepted from the engineer
    int baud = 0;    // 0 9600, 1 19200, 2 38400, 3 57600/76800
    int parity = 0;  // 0 none, 1 even, 2 odd
    int stop = 0;    // 0 one stop bit, 1 two

    friend bool operator==(const CommsSettings&, const CommsSettings&) = default;
};

CommsSettings decodeComms(int32_t reg21);
int32_t encodeComms(const CommsSettings& settings);

// List captions, index = the value stored.
QStringList baudCaptions();
QStringList parityCaptions(const LangDll& lang);
QStringList stopBitCaptions(const LangDll& lang);

// What the comms frame's controls hold, as plain values. A list index of -1
// means "no selection" when storing, and "leave the selection as it is" when
// it comes from ReadCommsControls (the register byte is beyond the list).
struct CommsControls {
    QString address;
    int baud = -1;
    int parity = -1;
    int stop = -1;
    QString deviceId;
    // False when the unit did not answer the read of its device instance:
    // the box is then empty, and the write leaves the register alone.
    bool deviceIdRead = true;
};

// The controls filled from RegRecord; the device id shows "0 = Auto" for 0.
CommsControls ReadCommsControls(const DeviceState& state, const LangDll& lang);

// Takes the controls into RegRecord. The address is taken when numeric and
// 0..247 after rounding, otherwise the old one stays. The device instance is
// only touched on a BACnet unit of our own vendor id: text that is not a
// number, and 0, mean automatic (0); 1..4194303 is taken; any other number
// leaves the old value.
void StoreCommsControls(DeviceState& state, const CommsControls& controls);

// Whether the device instance may be set on this unit.
bool deviceIdApplies(const DeviceState& state);

// The comms write: StoreCommsControls, RegRecord into RegCache, then the
// batch writing registers 21, 23 and 24 and ":SU#". Registers it needs that
// were not read are read first. Answers the batch id, 0 while it reads first
// or when refused.
int writeComms(Link& link, const CommsControls& controls);
QStringList commsWriteFrames(const DeviceState& state);
// The main "Write": the comms controls into the register record, the record
// into the register cache, then the device settings write (every known
// register of class "N" and ":SU#"). Registers the controls are stored over
// are read first when unknown, and so are those of `readFirst`.
WriteStart writeDeviceSettingsWithComms(Link& link, const CommsControls& controls,
                                        const QList<int>& readFirst = {});
// The device-settings registers that write would leave out now because they
// were never read (those the controls are stored over are read in any case).
QList<int> unreadBeforeWriteWithComms(const DeviceState& state);

// The single-frame device commands, sent outside the command queue.
void sendServicePin(Link& link); // ":SB#"
void sendDefaults(Link& link);   // ":SD#"
void sendReset(Link& link);      // ":SR#"
// "Command13": the burn command as a batch of its own, without a progress
// reset. Answers the batch id.
int burnSettings(Link& link); // ":SP#"

} // namespace gp
