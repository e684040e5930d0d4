#include "diag/debug_tools.h"
#include "app/typed_number.h"

#include "app/lang_dll.h"
#include "link/codec.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gp {

QString debugFlagsFrame(const std::array<bool, 32>& ticked) {
    uint32_t value = 0;
    for (int i = 0; i < 32; ++i) {
        if (ticked[static_cast<size_t>(i)])
            value |= 1u << i;
    }
    return BuildItemWrite('D', 0x03, static_cast<int32_t>(value));
}

std::optional<int32_t> spiRateValue(const QString& text, const QLocale& locale) {
    const auto rounded = typedRoundedNumber(text, TypedNumberForm::CThenLocale, locale);
    if (!rounded)
        return std::nullopt;
    const double n = *rounded;
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(n);
}

std::optional<QString> spiRateFrame(const QString& text, const QLocale& locale) {
    const auto value = spiRateValue(text, locale);
    if (!value)
        return std::nullopt;
    return BuildItemWrite('D', 0x0A, *value);
}

QStringList debugReadFrames() {
    return {BuildItemRead('D', 0x05), BuildItemRead('D', 0x06), BuildItemRead('D', 0x07),
            BuildItemRead('D', 0x08)};
}

int DebugRead(Link& link) {
    // Five progress steps for four frames: the bar stops at four fifths until
    // the batch ends.
    return link.startBatch(debugReadFrames(), 5);
}

std::optional<QString> debugCommandFrame(int index) {
    switch (index) {
    case 0:
        return BuildSystem(QStringLiteral("A"));
    case 3:
        return BuildSystem(QStringLiteral("P"));
    case 4:
        return BuildItemWrite('D', 0x04, 1);
    case 5:
        return BuildItemRead('D', 0x08);
    case 6:
        return BuildItemWrite('D', 0x08, 0x00FF0000); // byte 2 set, the rest clear
    default:
        return std::nullopt;
    }
}

Status ExportStringTable(const QString& path) {
    StringTableEntries entries;
    for (const auto& entry : LangDll::builtInStrings()) {
        if (entry.first >= 0 && entry.first <= 20000 && !entry.second.isEmpty())
            entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return LangDll::writeCatalogue(path, entries);
}

} // namespace gp
