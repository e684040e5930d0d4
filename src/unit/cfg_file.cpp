#include "unit/cfg_file.h"

#include "app/printable_text.h"
#include "link/codec.h"
#include "platform/atomic_file.h"
#include "unit/bulk_transfer.h"
#include "unit/registers.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace gp {

namespace {

const QString kHeader = QStringLiteral("#CFG_Format=1");

bool isHexValue(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{8}$"));
    return re.match(text).hasMatch();
}

// Register field of a line: a plain decimal number 0..255, as the tool
// writes it; -1 for anything else. "8e1", "40.4", "+50" or "0081" would read
// as some register, but not surely the one meant.
int registerField(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^(0|[1-9][0-9]{0,2})$"));
    if (!re.match(text).hasMatch())
        return -1;
    const int r = text.toInt();
    return r <= 255 ? r : -1;
}

QString lineList(const QList<int>& lines) {
    QStringList out;
    for (int n : lines)
        out << QString::number(n);
    return out.join(QStringLiteral(", "));
}

} // namespace

QStringList splitTextLines(const QByteArray& data) {
    QString text = QString::fromLatin1(data);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    // A final line end does not begin another line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList cfgLines(const DeviceState& state, bool saveAllNonvol) {
    QStringList lines{kHeader};
    const int layout = LayoutCode(state);
    for (int r = 0; r < 256; ++r) {
        QString cls = saveAllNonvol ? QStringLiteral("N") : RegisterClass(layout, r);
        // A layout the tool does not know gives registers no class, and a
        // line without one is skipped on loading. Registers 00 and 01 name
        // the product, which a load must check, and are never written, so
        // they are always saved as "R".
        if (r <= 1 && cls.isEmpty())
            cls = QStringLiteral("R");
        lines << cls + QLatin1Char(' ') + QString::number(r) + QLatin1Char(' ') +
                     HexLong(state.RegCache[static_cast<size_t>(r)]);
    }
    lines << QStringLiteral("S 0 ") + HexLong(state.StatusFlags);
    return lines;
}

QString cfgRegisterLabel(int reg, const QString& cls) {
    if (cls.isEmpty()) // a layout this tool does not know: no class
        return QStringLiteral("0x%1 (%2)").arg(HexByte(reg)).arg(reg);
    return QStringLiteral("0x%1 (%2 %3)").arg(HexByte(reg), cls).arg(reg);
}

QStringList cfgCommentLines(const DeviceState& state, const QDateTime& when) {
    QStringList uid;
    for (int i = 0; i < 4; ++i)
        uid << state.IdentStrings[static_cast<size_t>(i)];
    // The unit's texts may hold any byte; a line break among them would
    // split a comment line and make the file one the load refuses.
    return {
        QStringLiteral("# Unique ID: ") + printableText(uid.join(QLatin1Char('-'))),
        QStringLiteral("# Product type: ") + printableText(productNameOf(state)),
        QStringLiteral("# Firmware version: ") +
            formatFirmwareVersion(state.FirmwareVersion, QLocale::c()),
        QStringLiteral("# Saved: ") + when.toString(Qt::ISODate),
        QStringLiteral("# Tool: Glimmerpane " GP_VERSION_TEXT),
    };
}

Status writeCfgFile(const QString& path, const QStringList& lines) {
    QByteArray data;
    for (const QString& line : lines)
        data += line.toLatin1() + "\r\n";
    return writeFileAtomically(path, data);
}

QString CfgCheck::notes() const {
    QStringList out;
    out << QStringLiteral("The file gives %1 register(s).").arg(registersGiven);
    if (!skippedLines.isEmpty())
        out << QStringLiteral("Lines skipped (not a register line): %1.")
                   .arg(lineList(skippedLines));
    if (!duplicateLines.isEmpty())
        out << QStringLiteral("Lines giving a register a second time (the last one counts): %1.")
                   .arg(lineList(duplicateLines));
    return out.join(QLatin1Char(' '));
}

CfgCheck parseCfgLines(const QStringList& lines, bool lastLineCut) {
    CfgCheck check;
    std::array<bool, 256> given{};
    auto skip = [&](int n) {
        ++check.ignoredLines;
        check.skippedLines << n + 1;
    };
    for (int n = 0; n < lines.size(); ++n) {
        const QString& line = lines[n];
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const bool cut = lastLineCut && n == lines.size() - 1;
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.size() != 3) {
            skip(n);
            continue;
        }
        const QString& cls = f[0];
        const bool known =
            cls == QLatin1String("N") || cls == QLatin1String("R") || cls == QLatin1String("S");
        if (!known) {
            skip(n);
            continue;
        }
        // A value that is not eight hex digits would reach the unit as some
        // other number; such a file is refused rather than guessed at. The
        // last line of a file cut short is only a part of a line: skipped.
        if (!isHexValue(f[2])) {
            if (cut) {
                skip(n);
                continue;
            }
            check.status = CfgCheck::Malformed;
            check.message = QStringLiteral("Line %1 (\"%2\"): the value is not eight hex digits. "
                                           "Nothing was loaded.")
                                .arg(n + 1)
                                .arg(line);
            check.content = {};
            return check;
        }
        const int32_t value = ParseHexLong(f[2].toUpper());
        if (cls == QLatin1String("S")) {
            check.content.statusFlags = value;
            continue;
        }
        // A register number of another form would send the value to some
        // other register: the file is refused, as for a bad value.
        const int reg = registerField(f[1]);
        if (reg < 0) {
            if (cut) {
                skip(n);
                continue;
            }
            check.status = CfgCheck::Malformed;
            check.message = QStringLiteral("Line %1 (\"%2\"): the register number is not a "
                                           "decimal 0..255. Nothing was loaded.")
                                .arg(n + 1)
                                .arg(line);
            check.content = {};
            return check;
        }
        if (given[static_cast<size_t>(reg)])
            check.duplicateLines << n + 1;
        given[static_cast<size_t>(reg)] = true;
        if (reg <= 1)
            check.content.product[static_cast<size_t>(reg)] = value;
        if (cls == QLatin1String("N"))
            check.content.registers[static_cast<size_t>(reg)] = value;
    }
    for (const auto& v : check.content.registers)
        check.registersGiven += v.has_value() ? 1 : 0;
    if (!check.content.product[0] || !check.content.product[1]) {
        check.status = CfgCheck::NoProduct;
        check.message = QStringLiteral("The file has no lines for registers 0 and 1, so its "
                                       "product type cannot be checked. Nothing was loaded.");
        check.content = {};
    }
    return check;
}

void checkCfgProduct(CfgCheck& check, const DeviceState& state) {
    if (!check.ok())
        return;
    // Registers 00 and 01 name the product: layout code and the feature bits
    // with the application id must match the unit exactly. A unit whose
    // registers were not read cannot be compared.
    const QList<int> unread = state.unknownOf({0, 1});
    if (!unread.isEmpty()) {
        check.status = CfgCheck::NoAnswer;
        check.message =
            QStringLiteral("Registers %1 of the unit were not read, so the product "
                           "type cannot be checked. Nothing was loaded.")
                .arg(unread.size() == 2 ? QStringLiteral("00 and 01") : HexByte(unread.first()));
        check.content = {};
        return;
    }
    for (int reg = 0; reg <= 1; ++reg) {
        if (*check.content.product[static_cast<size_t>(reg)] !=
            state.RegCache[static_cast<size_t>(reg)]) {
            check.status = CfgCheck::WrongProduct;
            check.message = QStringLiteral("Wrong Product Type.");
            check.content = {};
            return;
        }
    }
}

CfgCheck checkCfgLines(const QStringList& lines, const DeviceState& state) {
    CfgCheck check = parseCfgLines(lines);
    checkCfgProduct(check, state);
    return check;
}

CfgCheck parseCfgFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        CfgCheck check;
        check.status = CfgCheck::Unreadable;
        check.message =
            QStringLiteral("Cannot read %1: %2. Nothing was loaded.").arg(path, file.errorString());
        return check;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        CfgCheck check;
        check.status = CfgCheck::Unreadable;
        check.message =
            QStringLiteral("Cannot read %1: %2. Nothing was loaded.").arg(path, file.errorString());
        return check;
    }
    const bool cut = !data.isEmpty() && !data.endsWith('\n') && !data.endsWith('\r');
    return parseCfgLines(splitTextLines(data), cut);
}

CfgCheck readCfgFile(const QString& path, const DeviceState& state) {
    CfgCheck check = parseCfgFile(path);
    checkCfgProduct(check, state);
    return check;
}

void applyCfg(DeviceState& state, const CfgContent& content) {
    for (int r = 0; r < 256; ++r) {
        if (const auto& v = content.registers[static_cast<size_t>(r)]) {
            state.RegCache[static_cast<size_t>(r)] = *v;
            state.RegSource[static_cast<size_t>(r)] = ValueSource::File;
        }
    }
    if (content.statusFlags)
        state.StatusFlags = *content.statusFlags;
    state.refreshRegRecord();
}

QList<int> cfgWriteRegisters(const DeviceState& state, const CfgContent& content,
                             const QList<int>& alsoWrite) {
    QList<int> regs;
    if (!state.known(0))
        return regs;
    for (int r : deviceSettingsRegisters(state)) {
        if (content.registers[static_cast<size_t>(r)])
            regs << r;
    }
    for (int r : alsoWrite)
        if (r > 0 && r < 256 && content.registers[static_cast<size_t>(r)] && !regs.contains(r))
            regs << r;
    std::sort(regs.begin(), regs.end());
    return regs;
}

} // namespace gp
