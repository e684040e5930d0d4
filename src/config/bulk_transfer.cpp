#include "config/bulk_transfer.h"

#include "link/codec.h"
#include "link/link.h"

namespace gp {

QString RegisterClass(int layout, int reg) {
    // Below 34 lie identity, calibration and comms, which have writes of
    // their own; 35 (23 hex) is never sent either. Each known layout adds
    // the registers its firmware keeps to itself.
    if (layout < 0 || layout > 3)
        return QString();
    if (reg < 34 || reg == 35)
        return QStringLiteral("R");
    switch (layout) {
    case 0:
        if (reg == 57)
            return QStringLiteral("R");
        break;
    case 1:
        if (reg == 37)
            return QStringLiteral("R");
        break;
    case 2:
        if (reg == 52)
            return QStringLiteral("R");
        break;
    case 3:
        if (reg == 60 || reg == 61)
            return QStringLiteral("R");
        break;
    }
    return QStringLiteral("N");
}

int LayoutCode(const DeviceState& state) {
    return static_cast<int>((static_cast<uint32_t>(state.RegCache[0]) >> 24) & 0xFFu);
}

QStringList readAllFrames() {
    QStringList frames;
    for (int r = 0; r < 256; ++r)
        frames << BuildRead(r);
    frames << BuildItemRead(QLatin1Char('U'), 5);
    return frames;
}

void ReadAllRegisters(Link& link) {
    link.startBatch(readAllFrames());
}

void WriteAllRegisters(Link& link) {
    QStringList frames;
    for (int r = 1; r < 256; ++r)
        frames << BuildWrite(link.state, r);
    // Entry 0 stays empty and is never sent: the batch starts at entry 1 and
    // its progress counts the unused entry as the unit tool always did.
    link.startBatch(frames, 256, 1);
}

QList<int> deviceSettingsRegisters(const DeviceState& state) {
    const int layout = LayoutCode(state);
    QList<int> regs;
    for (int r = 2; r < 256; ++r) {
        if (RegisterClass(layout, r) == QLatin1String("N"))
            regs << r;
    }
    return regs;
}

QStringList deviceSettingsFrames(const DeviceState& state) {
    QStringList frames;
    for (int r : deviceSettingsRegisters(state))
        frames << BuildWrite(state, r);
    frames << BuildSystem(QStringLiteral("U"));
    return frames;
}

void WriteDeviceSettings(Link& link) {
    const QStringList frames = deviceSettingsFrames(link.state);
    // The divisor counts the end entry too.
    link.startBatch(frames, static_cast<int>(frames.size()) + 1);
}

} // namespace gp
