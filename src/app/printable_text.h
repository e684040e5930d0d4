#pragma once
// Text that came from the unit (identity items, names held in registers,
// raw replies) may hold any byte. Before it reaches a terminal, a label or a
// line of a file of ours, every character that is not printable (control
// characters, escape sequences' lead-in, direction overrides) becomes "?",
// so it can neither break a line nor steer a terminal.

#include <QString>

namespace gp {

enum class LineBreaks { Replace, Keep };

// Keep: line breaks and tabs pass (for our own multi-line messages that
// carry unit text); everything else not printable is still replaced.
QString printableText(const QString& text, LineBreaks breaks = LineBreaks::Replace);

} // namespace gp
