#include "platform/prompts.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace gp {

QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const qsizetype brace = desc.indexOf('{');
        if (brace >= 0)
            desc = desc.left(brace);
        out << QStringLiteral("%1 (%2)").arg(desc.trimmed(), parts[i + 1].trimmed());
    }
    if (out.isEmpty())
        return filter;
    return out.join(QStringLiteral(";;"));
}

QString withFilterExtension(const QString& path, const QString& qtFilter) {
    if (path.isEmpty() || QFileInfo(path).fileName().contains(u'.'))
        return path;
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch m = pattern.match(qtFilter);
    return m.hasMatch() ? path + u'.' + m.captured(1) : path;
}

} // namespace gp
