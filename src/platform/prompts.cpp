#include "platform/prompts.h"

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

} // namespace gp
