#include "site/site_apply.h"

#include "config/comms_settings.h"
#include "link/device_state.h"
#include "link/write_gate.h"
#include "report/commissioning_report.h"
#include "unit/bulk_transfer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace gp::site {

void putRowSettings(CfgContent& content, const PlanRow& row, int32_t unitComms) {
    auto& comms = content.registers[kCommsRegister];
    CommsSettings c = decodeComms(comms.value_or(unitComms));
    const bool any = row.address || row.baud || row.parity || row.stopBits;
    c.address = row.address.value_or(c.address);
    c.baud = row.baud.value_or(c.baud);
    c.parity = row.parity.value_or(c.parity);
    c.stop = row.stopBits.value_or(c.stop);
    if (any)
        comms = encodeComms(c);
    if (row.deviceId)
        content.registers[kDeviceIdRegister] = *row.deviceId;
}

QList<int> rowRegisters(const PlanRow& row) {
    QList<int> regs;
    if (row.address || row.baud || row.parity || row.stopBits)
        regs << kCommsRegister;
    if (row.deviceId)
        regs << kDeviceIdRegister;
    return regs;
}

QList<int> registersToChange(const DeviceState& state, const CfgContent& content,
                             const QList<int>& alsoWrite) {
    DeviceState meant = state;
    applyCfg(meant, content);
    QList<int> out;
    for (int r : cfgWriteRegisters(meant, content, alsoWrite))
        if (!state.known(r) ||
            state.RegCache[static_cast<size_t>(r)] != meant.RegCache[static_cast<size_t>(r)])
            out << r;
    return out;
}

Registers registersOf(const DeviceState& state) {
    Registers regs;
    for (int r = 0; r < 256; ++r)
        if (state.known(r))
            regs[static_cast<size_t>(r)] = state.RegCache[static_cast<size_t>(r)];
    return regs;
}

QList<int> changedRegisters(const Registers& before, const Registers& after) {
    QList<int> out;
    for (int r = 0; r < 256; ++r)
        if (before[static_cast<size_t>(r)] != after[static_cast<size_t>(r)])
            out << r;
    return out;
}

QList<int> settingsChanged(const Registers& left, const Registers& now) {
    DeviceState layout;
    if (now[0])
        layout.setRegister(0, *now[0], ValueSource::Unit);
    QList<int> regs{1};
    regs << deviceSettingsRegisters(layout);
    QList<int> out;
    for (int r : regs) {
        const auto& a = left[static_cast<size_t>(r)];
        const auto& b = now[static_cast<size_t>(r)];
        if (a && b && *a != *b)
            out << r;
    }
    return out;
}

std::optional<Visit> previousVisit(const QList<Visit>& visits, const QString& key) {
    std::optional<Visit> previous;
    for (const Visit& v : visits) {
        if (v.key == key)
            break;
        if (v.ended.isValid())
            previous = v;
    }
    return previous;
}

QString changedSinceText(const std::optional<Visit>& previous, const Registers& now) {
    if (!previous)
        return QString();
    const QList<int> changed = settingsChanged(previous->left, now);
    if (changed.isEmpty())
        return QString();
    return QStringLiteral("changed since its as-left of %1: %2")
        .arg(previous->ended.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")),
             registerNames(changed));
}

QString registersSha256(const DeviceState& state, const Registers& regs) {
    DeviceState s = state;
    for (size_t r = 0; r < regs.size(); ++r) {
        if (!regs[r])
            return QString();
        s.RegCache[r] = *regs[r];
    }
    return cfgSha256(s);
}

QString engineerName() {
    for (const char* var : {"USER", "LOGNAME", "USERNAME"})
        if (const QString v = qEnvironmentVariable(var); !v.isEmpty())
            return v;
    return QDir::home().dirName();
}

QString fileSha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

} // namespace gp::site
