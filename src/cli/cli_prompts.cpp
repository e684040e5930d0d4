#include "cli/cli_prompts.h"

#include "app/printable_text.h"

#include <cstdio>

namespace gp::cli {

void CliPrompts::printLine(const QString& line) {
    if (print)
        print(line);
    else
        std::fprintf(stderr, "%s\n", qPrintable(printableText(line, LineBreaks::Keep)));
}

bool CliPrompts::askYesNo(const QString& title, const QString& text, bool, bool) {
    const QString q =
        (title.isEmpty() ? QString() : title + ": ") + QString(text).replace('\r', ' ');
    printLine(q);
    printLine(yes_ ? QStringLiteral("Answered Yes (--yes).")
                   : QStringLiteral("Answered No (give --yes to confirm)."));
    return yes_;
}

void CliPrompts::message(const QString& title, const QString& text, MessageKind kind) {
    const QString line =
        (title.isEmpty() ? QString() : title + ": ") + QString(text).replace('\r', ' ');
    messages << line;
    printLine((kind == MessageKind::Plain ? QString() : QStringLiteral("warning: ")) + line);
}

} // namespace gp::cli
