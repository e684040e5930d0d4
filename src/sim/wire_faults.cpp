#include "sim/wire_faults.h"

#include <algorithm>

namespace gp::sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kNames[] = {
    {FaultKind::DropReply, "drop"},
    {FaultKind::DelayReply, "delay"},
    {FaultKind::SplitReply, "split"},
    {FaultKind::CorruptReply, "corrupt"},
    {FaultKind::GarbageBeforeReply, "garbage"},
    {FaultKind::Vanish, "vanish"},
};

int middleOr(int position, int size) {
    return position < 0 ? size / 2 : position;
}

} // namespace

QStringList wireFaultNames() {
    QStringList names;
    for (const auto& k : kNames)
        names << QString::fromLatin1(k.name);
    names << QStringLiteral("silent");
    return names;
}

QString WireFault::text() const {
    QString out;
    for (const auto& k : kNames)
        if (k.kind == kind)
            out = QString::fromLatin1(k.name);
    switch (kind) {
    case FaultKind::DelayReply:
        out += QStringLiteral("=%1").arg(delayMs);
        break;
    case FaultKind::SplitReply:
    case FaultKind::CorruptReply:
        if (position >= 0)
            out += QStringLiteral("=%1").arg(position);
        break;
    case FaultKind::GarbageBeforeReply:
        out += QStringLiteral("=") + QString::fromLatin1(garbage);
        break;
    default:
        break;
    }
    if (everyReply)
        out += QStringLiteral("@every");
    else if (frame > 0)
        out += QStringLiteral("@%1").arg(frame);
    return out;
}

std::optional<WireFault> parseWireFault(const QString& text, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<WireFault> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QString spec = text.trimmed();
    WireFault f;
    if (spec == QLatin1String("silent")) {
        f.kind = FaultKind::DropReply;
        f.everyReply = true;
        return f;
    }
    const int at = spec.lastIndexOf('@');
    if (at >= 0) {
        const QString when = spec.mid(at + 1);
        spec.truncate(at);
        if (when == QLatin1String("every")) {
            f.everyReply = true;
        } else {
            bool ok = false;
            f.frame = when.toInt(&ok);
            if (!ok || f.frame < 1)
                return fail(QStringLiteral("'%1': after @ comes a frame number from 1 or 'every'")
                                .arg(text));
        }
    }
    QString value;
    const int eq = spec.indexOf('=');
    if (eq >= 0) {
        value = spec.mid(eq + 1);
        spec.truncate(eq);
    }
    const auto* k = std::find_if(std::begin(kNames), std::end(kNames),
                                 [&](const KindName& n) { return spec == QLatin1String(n.name); });
    if (k == std::end(kNames))
        return fail(QStringLiteral("unknown fault '%1' (known: %2)")
                        .arg(text, wireFaultNames().join(QStringLiteral(", "))));
    f.kind = k->kind;
    bool ok = true;
    switch (f.kind) {
    case FaultKind::DelayReply:
        f.delayMs = value.toDouble(&ok);
        if (!ok || f.delayMs < 0)
            return fail(QStringLiteral("'%1': delay needs =MILLISECONDS").arg(text));
        break;
    case FaultKind::SplitReply:
    case FaultKind::CorruptReply:
        if (!value.isEmpty()) {
            f.position = value.toInt(&ok);
            if (!ok || f.position < 0)
                return fail(QStringLiteral("'%1': the position is a character index").arg(text));
        }
        break;
    case FaultKind::GarbageBeforeReply:
        if (!value.isEmpty())
            f.garbage = value.toLatin1();
        break;
    default:
        if (!value.isEmpty())
            return fail(QStringLiteral("'%1': this fault takes no value").arg(text));
        break;
    }
    if (f.kind == FaultKind::Vanish && f.everyReply)
        return fail(QStringLiteral("'%1': a port vanishes only once").arg(text));
    return f;
}

void FaultSchedule::arm(const WireFault& fault, quint64 framesSoFar) {
    Armed a;
    a.fault = fault;
    a.targetFrame = fault.frame > 0 ? framesSoFar + static_cast<quint64>(fault.frame) : 0;
    armed_.push_back(a);
}

ShapedReply FaultSchedule::shape(const QByteArray& reply, quint64 frameNumber) {
    // Collect the faults that apply to this reply; one-shot ones are used up.
    std::vector<WireFault> apply;
    for (auto it = armed_.begin(); it != armed_.end();) {
        const WireFault& f = it->fault;
        bool applies = false;
        bool usedUp = false;
        if (f.everyReply) {
            applies = !reply.isEmpty();
        } else if (it->targetFrame == 0) {
            // "The next reply": a vanish also takes a frame without reply.
            applies = !reply.isEmpty() || f.kind == FaultKind::Vanish;
            usedUp = applies;
        } else if (it->targetFrame <= frameNumber) {
            applies = it->targetFrame == frameNumber;
            usedUp = true; // this frame's number has passed
        }
        if (applies)
            apply.push_back(f);
        it = usedUp ? armed_.erase(it) : it + 1;
    }

    ShapedReply out;
    QByteArray bytes = reply;
    bool drop = false;
    int splitAt = -1;
    double splitPause = 0.0;
    const auto has = [&](FaultKind k) {
        return std::any_of(apply.begin(), apply.end(),
                           [k](const WireFault& f) { return f.kind == k; });
    };
    for (const WireFault& f : apply) {
        switch (f.kind) {
        case FaultKind::DropReply:
            drop = true;
            break;
        case FaultKind::DelayReply:
            out.delayMs += f.delayMs;
            break;
        case FaultKind::CorruptReply:
            if (!bytes.isEmpty()) {
                const int i = std::min<int>(middleOr(f.position, static_cast<int>(bytes.size())),
                                            static_cast<int>(bytes.size()) - 1);
                bytes[i] = f.replacement != 0 ? f.replacement : static_cast<char>(bytes[i] ^ 0x01);
            }
            break;
        case FaultKind::SplitReply:
            splitAt = middleOr(f.position, static_cast<int>(reply.size()));
            splitPause = f.delayMs;
            break;
        case FaultKind::GarbageBeforeReply:
        case FaultKind::Vanish:
            break;
        }
    }
    if (has(FaultKind::Vanish)) {
        out.vanish = true;
        return out;
    }
    if (drop || bytes.isEmpty())
        return out;
    int garbageLength = 0;
    for (const WireFault& f : apply)
        if (f.kind == FaultKind::GarbageBeforeReply) {
            bytes.prepend(f.garbage);
            garbageLength += static_cast<int>(f.garbage.size());
        }
    if (splitAt > 0 && splitAt < reply.size()) {
        const int cut = splitAt + garbageLength;
        out.parts.push_back({0.0, bytes.left(cut)});
        out.parts.push_back({splitPause, bytes.mid(cut)});
    } else {
        out.parts.push_back({0.0, bytes});
    }
    return out;
}

} // namespace gp::sim
