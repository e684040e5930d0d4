#include "flash/bossac.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace gp::flash {

namespace {

QString portArgument(const QString& port) {
    return QStringLiteral("-p") + port;
}

// The image as a word the tool cannot take for an option: a relative name
// that begins with "-" ("-R.bin", "--erase") is given as "./-R.bin".
QString imageArgument(const QString& path) {
    return path.startsWith(u'-') ? QStringLiteral("./") + path : path;
}

QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`')
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

// A word of the line written as it is when splitting gives it back
// unchanged (letters, digits and a few marks), quoted otherwise.
QString lineWord(const QString& word) {
    // Anchored whole: "$" alone would also match before a final line break,
    // and a port name ending in one would go out unquoted and lose it.
    static const QRegularExpression plain(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_./:=+,@%-]+")));
    return plain.match(word).hasMatch() ? word : quoted(word);
}

} // namespace

QStringList guidedUpdateArguments(const QString& port, const QString& firmwarePath) {
    return {QStringLiteral("-e"), QStringLiteral("-u"),       QStringLiteral("-w"),
            QStringLiteral("-b"), QStringLiteral("-v"),       QStringLiteral("--usb-port=0"),
            portArgument(port),   imageArgument(firmwarePath)};
}

QString buildCommandLine(const WriteOptions& o, const QString& port, const QString& firmwarePath) {
    QString line = QStringLiteral("bossac -w ");
    if (o.erase)
        line += QStringLiteral("-e ");
    line += o.lock ? QStringLiteral("-l ") : QStringLiteral("-u ");
    if (o.security)
        line += QStringLiteral("-s ");
    if (o.bootFromFlash)
        line += QStringLiteral("-b ");
    if (o.brownoutDetect)
        line += QStringLiteral("-c ");
    if (o.brownoutReset)
        line += QStringLiteral("-t ");
    if (o.verify)
        line += QStringLiteral("-v ");
    // The port is a name or a path of any characters ("/tmp/my unit -R"):
    // it is quoted like the image whenever splitting could change it.
    line += QStringLiteral("--usb-port=0 ") + lineWord(portArgument(port)) + u' ' +
            quoted(imageArgument(firmwarePath));
    return line;
}

std::optional<QStringList> splitCommandLine(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false;
    enum { Plain, Single, Double } quote = Plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (quote) {
        case Single:
            if (c == u'\'')
                quote = Plain;
            else
                word += c;
            break;
        case Double:
            if (c == u'"') {
                quote = Plain;
            } else if (c == u'\\' && i + 1 < text.size() &&
                       QStringLiteral("\"\\$`").contains(text[i + 1])) {
                word += text[++i];
            } else {
                word += c;
            }
            break;
        case Plain:
            if (c.isSpace()) {
                if (inWord)
                    words << word;
                word.clear();
                inWord = false;
            } else if (c == u'\'') {
                quote = Single;
                inWord = true;
            } else if (c == u'"') {
                quote = Double;
                inWord = true;
            } else if (c == u'\\') {
                if (i + 1 < text.size())
                    word += text[++i];
                inWord = true;
            } else {
                word += c;
                inWord = true;
            }
            break;
        }
    }
    if (quote != Plain)
        return std::nullopt;
    if (inWord)
        words << word;
    return words;
}

std::optional<double> progressOf(const QString& line) {
    static const QRegularExpression re(QStringLiteral("\\((\\d+)/(\\d+) pages\\)"));
    const auto m = re.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    const double done = m.captured(1).toDouble();
    const double total = m.captured(2).toDouble();
    if (total <= 0)
        return std::nullopt;
    return std::min(1.0, done / total);
}

QString notStartedMessage(const QString& reason, const QString& program) {
    if (QFileInfo(program).fileName() != QLatin1String(kBossacProgram))
        return QStringLiteral("The program \"%1\" could not be started (%2).").arg(program, reason);
    return QStringLiteral("The flashing tool \"%1\" could not be started (%2). Install the "
                          "package \"%3\" (apt install %3) so that \"%1\" is on the search path, "
                          "then try again.")
        .arg(QLatin1String(kBossacProgram), reason, QLatin1String(kBossacPackage));
}

QString powerCycleHint() {
    return QStringLiteral("The unit may still be in its boot loader: power cycle it before the "
                          "next try.");
}

QString lockWarning() {
    return QStringLiteral("Lock protects the written flash against erasing and writing. Every "
                          "later firmware update (the guided update too) then fails, because "
                          "the flashing tool erases before it unlocks, until the region is "
                          "unlocked by a run that only unlocks: build the command line with "
                          "Lock clear and delete every option but \"-u\", \"--usb-port=0\" "
                          "and the port before executing it.");
}

} // namespace gp::flash
