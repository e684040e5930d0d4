#include "cli/cli_prompts.h"

#include "app/printable_text.h"

#include <cstdio>

namespace gp::cli {

bool CliPrompts::askYesNo(const QString& title, const QString& text, bool, bool) {
    const QString q =
        (title.isEmpty() ? QString() : title + ": ") + QString(text).replace('\r', ' ');
    std::fprintf(stderr, "%s\n%s\n", qPrintable(printableText(q, LineBreaks::Keep)),
                 yes_ ? "Answered Yes (--yes)." : "Answered No (give --yes to confirm).");
    return yes_;
}

void CliPrompts::message(const QString& title, const QString& text, MessageKind kind) {
    const QString line =
        (title.isEmpty() ? QString() : title + ": ") + QString(text).replace('\r', ' ');
    messages << line;
    std::fprintf(stderr, "%s%s\n", kind == MessageKind::Plain ? "" : "warning: ",
                 qPrintable(printableText(line, LineBreaks::Keep)));
}

} // namespace gp::cli
