#include "link/link.h"

namespace gp {

Link::Link() : serial(log), poll(serial, state, progress), writes(poll, state, log) {
    // The boot monitor's answer ends whatever batch was waiting for it.
    serial.onBootFound = [this] { poll.CmdQueuePos = -1; };
    serial.onReplyComplete = [this] { replyComplete(); };
}

FastLinkSetting fastLinkSetting(const QString& fastLink, const QString& gapMs) {
    FastLinkSetting s;
    QStringList problems;
    const QString on = fastLink.trimmed().toLower();
    if (on == QLatin1String("1") || on == QLatin1String("true") || on == QLatin1String("yes") ||
        on == QLatin1String("on"))
        s.on = true;
    else if (!on.isEmpty() && on != QLatin1String("0") && on != QLatin1String("false") &&
             on != QLatin1String("no") && on != QLatin1String("off"))
        problems << QStringLiteral("FASTLINK=%1 is neither on (1) nor off (0); the link stays "
                                   "paced by the tick.")
                        .arg(fastLink);
    if (!gapMs.trimmed().isEmpty()) {
        bool ok = false;
        const int gap = gapMs.trimmed().toInt(&ok);
        if (ok && gap >= 0 && gap <= 100)
            s.gapMs = gap;
        else
            problems << QStringLiteral("FASTLINKGAP=%1 is not a gap of 0 to 100 ms; %2 ms is used.")
                            .arg(gapMs)
                            .arg(s.gapMs);
    }
    s.note = problems.join(' ');
    return s;
}

void Link::setFast(bool on, int gapMs) {
    fast_ = on;
    fastGapMs_ = gapMs < 0 ? 0 : gapMs;
    advanceScheduled_ = false;
    tickLeftToAdvance_ = false;
}

void Link::replyComplete() {
    // One scheduled call takes every reply that arrived until it runs.
    if (!fast_ || !scheduleAdvance || advanceScheduled_)
        return;
    advanceScheduled_ = true;
    scheduleAdvance(fastGapMs_);
}

bool Link::choosePort(const QString& name) {
    state.forgetRegisters();
    return serial.choosePort(name);
}

void Link::startBootProbe(const QString& monitorSettings) {
    serial.close();
    serial.BootFound = false;
    serial.BootProbe = true;
    poll.CmdQueuePos = -1;
    if (serial.port()) {
        // Opening puts the unit's own line settings back; the monitor's
        // speed goes on afterwards.
        serial.choosePort(serial.port()->name());
        serial.port()->setSettings(monitorSettings);
    }
}

} // namespace gp
