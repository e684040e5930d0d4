#include "app/printable_text.h"

namespace gp {

QString printableText(const QString& text, LineBreaks breaks) {
    QString out = text;
    if (breaks == LineBreaks::Keep) {
        out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    for (QChar& c : out) {
        if (breaks == LineBreaks::Keep && (c == QLatin1Char('\n') || c == QLatin1Char('\t')))
            continue;
        // isPrint is false for control and format characters (ESC, DEL, the
        // C1 range, bidirectional overrides) and unassigned code points.
        // Surrogate halves are taken together as one printable character.
        if (!c.isPrint() && !c.isSurrogate())
            c = QLatin1Char('?');
    }
    return out;
}

} // namespace gp
