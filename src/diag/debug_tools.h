#pragma once
// Engineering debug commands of the diagnostics view: the display SPI rate,
// the raw debug values, the unit's 32 debug flags, the seven one-click debug
// commands and the export of the built-in string table. None of them checks
// an answer: the unit's debug items are write-and-forget.

#include "link/link.h"
#include "platform/result.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace gp {

// ":D03" + the flags, bit i set for each ticked box i.
QString debugFlagsFrame(const std::array<bool, 32>& ticked);

// The SPI rate text as the integer the unit takes: a decimal number ("." or
// the locale's separator, surrounding blanks and a sign allowed), rounded to
// the nearest integer with halves to even (2.5 gives 2, 3.5 gives 4).
// Nothing for text that is not a number or does not fit 32 bits.
std::optional<int32_t> spiRateValue(const QString& text, const QLocale& locale = QLocale());
// ":D0A" + that value, or nothing.
std::optional<QString> spiRateFrame(const QString& text, const QLocale& locale = QLocale());

// The debug value read: items 05..08. The progress bar counts five steps.
QStringList debugReadFrames();
int DebugRead(Link& link);

// The one-click commands "Debug1".."Debug7" (index 0..6). Debug2 and Debug3
// are the whole-bank read and write, which are batches, not single frames:
// for them (and any other index) this answers nothing.
std::optional<QString> debugCommandFrame(int index);

// The string table file: every built-in text with an id 0..20000, ascending,
// "id TAB text" per line, CR LF. The file is replaced as a whole. On failure
// answers false and says why in error.
inline constexpr char kStringTableFile[] = "StringTable.txt";
Status ExportStringTable(const QString& path);

} // namespace gp
