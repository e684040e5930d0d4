#include "cli/unit_file_name.h"

#include <QFileInfo>

namespace gp::cli {

namespace {
const QString kPort = QStringLiteral("{port}");
const QString kUid = QStringLiteral("{uid}");
const QString kSn = QStringLiteral("{sn}");
} // namespace

bool hasUnitPlaceholder(const QString& text) {
    return text.contains(kPort) || needsIdentity(text);
}

bool needsIdentity(const QString& text) {
    return text.contains(kUid) || text.contains(kSn);
}

QString fileSafe(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const bool plain = c.unicode() < 128 && (c.isLetterOrNumber() || c == u'-' || c == u'_' ||
                                                 (c == u'.' && !out.isEmpty()));
        out += plain ? c : QChar(u'_');
    }
    return out;
}

QString portFileName(const QString& port) {
    QString base = QFileInfo(port).fileName();
    if (base.isEmpty())
        base = port;
    return fileSafe(base);
}

Result<QString> expandUnitPlaceholders(const QString& text, const UnitNames& names) {
    struct Part {
        const QString& placeholder;
        QString value;
        const char* missing;
    };
    const Part parts[] = {
        {kPort, portFileName(names.port), "the port has no name"},
        {kUid, fileSafe(names.uid), "the unit's unique id was not read"},
        {kSn, fileSafe(names.sn), "the unit has no serial number (or it was not read)"},
    };
    QString out = text;
    for (const Part& p : parts) {
        if (!out.contains(p.placeholder))
            continue;
        if (p.value.isEmpty())
            return fail(
                QStringLiteral("Cannot name the file %1: %2.").arg(text, QLatin1String(p.missing)));
        out.replace(p.placeholder, p.value);
    }
    return out;
}

} // namespace gp::cli
