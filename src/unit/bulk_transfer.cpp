#include "unit/bulk_transfer.h"

#include "link/codec.h"
#include "link/link.h"
#include "platform/prompts.h"

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

int ReadAllRegisters(Link& link) {
    return link.startBatch(readAllFrames());
}

WriteStart WriteAllRegisters(Link& link, const QList<int>& readFirst, bool resendLost) {
    return link.writes.request(readFirst, [resendLost](DeviceState& state) {
        QStringList frames;
        for (int r = 1; r < 256; ++r) {
            if (state.known(r))
                frames << BuildWrite(state, r);
        }
        if (frames.isEmpty())
            return WriteBatch::refused(QStringLiteral(
                "No register has been read from this unit yet; nothing was written."));
        // Entry 0 stays empty and is never sent: the batch starts at entry 1
        // and its progress counts the unused entry as the unit tool always did.
        WriteBatch b;
        b.frames = frames;
        b.divisor = static_cast<int>(frames.size()) + 1;
        b.firstEntry = 1;
        b.resendLost = resendLost;
        return b;
    });
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

QList<int> unreadOfAllRegisters(const DeviceState& state) {
    QList<int> regs;
    for (int r = 1; r < 256; ++r)
        if (!state.known(r))
            regs << r;
    return regs;
}

QList<int> unreadDeviceSettingsRegisters(const DeviceState& state) {
    if (!state.known(0))
        return {0};
    QList<int> regs;
    for (int r : deviceSettingsRegisters(state))
        if (!state.known(r))
            regs << r;
    return regs;
}

QList<int> askToReadFirst(Prompts& prompts, const QList<int>& unread, int toWrite) {
    if (unread.isEmpty())
        return {};
    const bool readFirst = prompts.askYesNo(
        QStringLiteral("Write"),
        QStringLiteral("%1 register(s) read from this unit would be written. Never read, and "
                       "so left out: %2.\n\nRead them from the unit first, then write them "
                       "all?\n(No writes only the registers read.)")
            .arg(toWrite)
            .arg(registerRanges(unread)),
        false, false);
    return readFirst ? unread : QList<int>{};
}

WriteStart WriteAllRegistersAsking(Link& link, Prompts& prompts) {
    const QList<int> unread = unreadOfAllRegisters(link.state);
    return WriteAllRegisters(
        link, askToReadFirst(prompts, unread, 255 - static_cast<int>(unread.size())), true);
}

QList<int> knownDeviceSettingsRegisters(const DeviceState& state) {
    QList<int> regs;
    if (!state.known(0))
        return regs; // without the layout no register's class is known
    for (int r : deviceSettingsRegisters(state)) {
        if (state.known(r))
            regs << r;
    }
    return regs;
}

QStringList deviceSettingsFrames(const DeviceState& state) {
    QStringList frames;
    for (int r : knownDeviceSettingsRegisters(state))
        frames << BuildWrite(state, r);
    frames << BuildSystem(QStringLiteral("U"));
    return frames;
}

WriteStart WriteDeviceSettings(Link& link, const QList<int>& alsoNeeded,
                               std::function<void(DeviceState&)> prepare) {
    QList<int> needed{0};
    needed << alsoNeeded;
    return link.writes.request(needed, [prepare = std::move(prepare)](DeviceState& state) {
        if (prepare)
            prepare(state);
        WriteBatch b;
        b.frames = deviceSettingsFrames(state);
        // The divisor counts the end entry too.
        b.divisor = static_cast<int>(b.frames.size()) + 1;
        b.resendLost = true;
        return b;
    });
}

} // namespace gp
