#include "app/lang_dll.h"

#include "platform/atomic_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace gp {

namespace {

// Translators' tables have always been read into a 256-character buffer.
constexpr qsizetype kMaxTextLength = 255;

struct BuiltInText {
    int id;
    const char* text;
};

// Ascending by id. 116 has never been defined.
constexpr BuiltInText kBuiltIn[] = {
    {101, "Quorvel Touchscreen Configuration Tool"},
    {102, "File"},
    {103, "Open"},
    {104, "Save"},
    {105, "Help"},
    {106, "About"},
    {107, "Defaults"},
    {108, "Reset"},
    {109, "Connect"},
    {110, "Write"},
    {111, "Com Port:"},
    {112, "CO2"},
    {113, "Comms"},
    {114, "Calibration"},
    {115, "Diagnostics"},
    {117, "Device"},
    {118, "Tools"},
    {119, "Firmware Update"},
    {2500, "Product Type:"},
    {2501, "UniqueID:"},
    {2502, "Firmware Version:"},
    {2503, "S/N:"},
    {2504, "Date Code:"},
    {5018, "Comms"},
    {5019, "1 Stop bit"},
    {5020, "2 Stop bits"},
    {5021, "None"},
    {5022, "Even"},
    {5023, "Odd"},
    {5024, "Address"},
    {5025, "Attention: These Address and Baudrate settings only apply when all DIP-Swiches are set "
           "to \"OFF\"."},
    {5026, "Service Pin"},
    {5027, "DeviceID"},
    {5028, "0 = Auto"},
    {7000, "Firmware Update"},
    {7001, "Start"},
    {7002, "Next"},
    {7003, "Reading Current Settings...."},
    {7004, "Flashing Device...."},
    {7005, "Writing Settings...."},
    {7006, "Forcing Device Reset"},
    {7007, "Update Complete"},
    {7008, "Press \"start\" to begin."},
    {7009, "Exit"},
    {7010, "WARNING: Failure to follow the instructions precisely may permently lock your device "
           "and require a factory re-program."},
    {7011, "Do you wish to continue?"},
    {7012, "Select firmware file to download."},
    {7020, "Profile Change"},
    {7021, "Select Profile file."},
    {10000, "Firmware Update Failed"},
    {10001, "Power cycle the device."},
    {10002, "Are you absolutely sure?"},
    {10003, kMakerCompanyLine},
    {10004, "Profile Changed Failed"},
    {10005, "Wrong Product Type."},
};

// The captions the tool shows beyond the product line's own table, with ids
// of their own above it (below 20000, where the exported table ends), so a
// catalogue can translate every window. Ascending by id; the English text is
// what the window shows, mnemonic marks left out.
constexpr BuiltInText kCaptions[] = {
    {12000, "Advanced"},
    {12001, "Commissioning Report..."},
    {12002, "Keyboard Shortcuts"},
    {12003, "Low Level Flash..."},
    {12004, "Quit"},
    {12005, "Restore from backup..."},
    {12006, "Verify after load"},
    {12007, "Open Site Plan..."},
    {12008, "Firmware Update..."},
    {12009, "Profile Change..."},
    {12010, "Baud rate:"},
    {12011, "Parity:"},
    {12012, "Stop bits:"},
    {12013, "Log to file"},
    {12014, "Yes"},
    {12015, "No"},
    {12016, "OK"},
    {12017, "Cancel"},
    {12018, "Close"},
    {12100, "Save log as"},
    {12101, "Copy"},
    {12102, "Clear"},
    {12103, "Timestamps"},
    {12104, "No timestamps"},
    {12105, "Timestamps: ms since port opened"},
    {12106, "Timestamps: wall clock"},
    {12107, "Window"},
    {12108, "Pause"},
    {12109, "Export CSV..."},
    {12110, "1 min"},
    {12111, "10 min"},
    {12112, "60 min"},
    {12113, "Trend"},
    {12200, "Ambient Concentration"},
    {12201, "AutoCalibration Concentration"},
    {12202, "AutoCalibration Interval"},
    {12203, "AutoCalibration Method"},
    {12204, "AutoCalibration Proportion"},
    {12205, "AutoCalibration Threshold"},
    {12206, "CO2 Level"},
    {12207, "CO2 Sensor Settings"},
    {12208, "CO2 Trend"},
    {12209, "Calibrate to ambient level now"},
    {12210, "Command Mode"},
    {12211, "Days"},
    {12212, "Disabled"},
    {12213, "Fast"},
    {12214, "Filter"},
    {12215, "Initial AutoCalibration Interval"},
    {12216, "Medium"},
    {12217, "Slow"},
    {12218, "Read All"},
    {12219, "Set"},
    {12220, "Stream Mode"},
    {12221, "stored:"},
    {12222, "Standard"},
    {12223, "Proportional"},
    {12224, "ppm"},
    {12225, "Set "},
    {12226, "Threshold"},
    {12300, "0-10V Ouputs"},
    {12301, "A0 Calib"},
    {12302, "A1 Calib"},
    {12303, "A2 Calib"},
    {12304, "A3 Calib"},
    {12305, "Calibrate AOs"},
    {12306, "Display"},
    {12307, "Floor"},
    {12308, "Humidity"},
    {12309, "Lock"},
    {12310, "Lux"},
    {12311, "NTC Compensation"},
    {12312, "Network"},
    {12313, "Outside"},
    {12314, "Pressure"},
    {12315, "Res1/Lux"},
    {12316, "Res2/Pot"},
    {12317, "Screen Refresh Rate"},
    {12318, "Security"},
    {12319, "Sensor Characteristics"},
    {12320, "Spread"},
    {12321, "Temperature"},
    {12322, "Trim"},
    {12400, "Last Reset Cause:"},
    {12401, "Processor ChipID"},
    {12402, "Count"},
    {12403, "Max"},
    {12404, "Min"},
    {12405, "Poll"},
    {12406, "Sensors"},
    {12407, "Read"},
    {12408, "Calib."},
    {12409, "Export String Table"},
    {12410, "No Logo Write"},
    {12411, "Fast link"},
    {12412, "Product Config"},
    {12413, "Product"},
    {12414, "Vendor"},
    {12415, "Init Screen"},
    {12416, "Screen off"},
    {12417, "Buzz on"},
    {12418, "Buzz Freq"},
    {12419, "Show XY"},
    {12420, "NTC Temp Sensor"},
    {12421, "Read Logo"},
    {12422, "load logo"},
    {12423, "Humdity"},
    {12424, "Buzzer"},
    {12425, "DEBUG Data"},
    {12426, "DEBUG Flags"},
    {12500, "Boot from Flash"},
    {12501, "Brownout Detect"},
    {12502, "Brownout Reset"},
    {12503, "Build Shell Command"},
    {12504, "Erase All"},
    {12505, "Execute Shell Command"},
    {12506, "Put Device into SAMBA Mode"},
    {12507, "Stop flashing tool"},
    {12508, "Write Options"},
    {12509, "Verify"},
    {12510, "browse"},
    {12511, "Save Configuration"},
    {12512, "Commissioning Report"},
};

QString cutToBuffer(QString text) {
    if (text.size() > kMaxTextLength) {
        // Never leave half of a surrogate pair at the end.
        const qsizetype n =
            text.at(kMaxTextLength - 1).isHighSurrogate() ? kMaxTextLength - 1 : kMaxTextLength;
        text.truncate(n);
    }
    return text;
}

// Catalogues are UTF-8; older translation files were saved in Latin-1, where
// every byte is a character. A file that is not valid UTF-8 is one of those.
QString decodeCatalogue(const QByteArray& bytes, bool* latin1) {
    // Decoding replaces what is not UTF-8, so only valid UTF-8 comes back
    // to the same bytes (the byte order mark aside, which decoding drops).
    static const QByteArray kBom("\xEF\xBB\xBF");
    const QByteArray body = bytes.startsWith(kBom) ? bytes.mid(kBom.size()) : bytes;
    QString text = QString::fromUtf8(body);
    *latin1 = text.toUtf8() != body;
    if (*latin1)
        text = QString::fromLatin1(bytes);
    return text;
}

QHash<int, QString> parseCatalogue(QString text) {
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QHash<int, QString> table;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        bool ok = false;
        const int id = line.left(tab).trimmed().toInt(&ok, 10);
        const QString entry = line.mid(tab + 1);
        if (!ok || entry.isEmpty() || table.contains(id))
            continue;
        table.insert(id, cutToBuffer(entry));
    }
    return table;
}

} // namespace

QStringList LangDll::defaultSearchFolders() {
    if (QCoreApplication::instance())
        return searchFoldersFor(QCoreApplication::applicationDirPath());
    return {QStringLiteral(".")};
}

QStringList LangDll::searchFoldersFor(const QString& programFolder) {
    // Installed, the program sits in PREFIX/bin and its catalogues in
    // PREFIX/share/glimmerpane; unpacked, they sit beside it.
    return {programFolder,
            QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral("../share/glimmerpane"))),
            QStringLiteral(".")};
}

LangDll::LangDll(QLocale locale, QStringList searchFolders)
    : m_locale(std::move(locale)), m_searchFolders(std::move(searchFolders)) {}

LangDll::~LangDll() {
    CloseLibrary();
}

bool LangDll::LoadLangDll(const QString& strDll) {
    CloseLibrary();
    if (strDll.isEmpty())
        return false;
    QString fileName = strDll;
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".lng");

    QStringList candidates;
    if (fileName.contains(QLatin1Char('/'))) {
        candidates << fileName;
    } else {
        for (const QString& folder : m_searchFolders)
            candidates << QDir(folder).filePath(fileName);
    }
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isFile())
            continue;
        QFile file(candidate);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            continue;
        bool latin1 = false;
        m_catalogue = parseCatalogue(decodeCatalogue(bytes, &latin1));
        m_libraryName = strDll;
        m_libraryPath = QFileInfo(candidate).absoluteFilePath();
        if (latin1)
            m_loadNote = QStringLiteral("Language catalogue %1 is not UTF-8; read as Latin-1.")
                             .arg(QDir::toNativeSeparators(m_libraryPath));
        return true;
    }
    return false;
}

void LangDll::CloseLibrary() {
    m_catalogue.clear();
    m_libraryName.clear();
    m_libraryPath.clear();
    m_loadNote.clear();
}

QString LangDll::GetDefaultDllName() const {
    QString code;
    const QLocale::Language language = m_locale.language();
    if (language == QLocale::C)
        code = QStringLiteral("en");
    else if (language != QLocale::AnyLanguage)
        code = QLocale::languageToCode(language);
    // Two characters, as the language lookup has always given; blanks when
    // there is no code.
    code = (code + QStringLiteral("  ")).left(2);
    return QStringLiteral("Glimmerpane_") + code;
}

std::optional<QString> LangDll::GetLangString(int ResourceID) const {
    if (!m_libraryPath.isEmpty() && ResourceID >= 1) {
        const auto it = m_catalogue.constFind(ResourceID);
        if (it != m_catalogue.constEnd())
            return *it;
    }
    return builtInString(ResourceID);
}

std::optional<QString> LangDll::catalogueString(int id) const {
    const auto it = m_catalogue.constFind(id);
    if (m_libraryPath.isEmpty() || id < 1 || it == m_catalogue.constEnd())
        return std::nullopt;
    return *it;
}

QString LangDll::GetLangStringOr(int ResourceID, const QString& keep) const {
    return GetLangString(ResourceID).value_or(keep);
}

const StringTableEntries& LangDll::builtInStrings() {
    static const StringTableEntries entries = [] {
        StringTableEntries list;
        for (const BuiltInText& t : kBuiltIn)
            list.append({t.id, QString::fromUtf8(t.text)});
        for (const BuiltInText& t : kCaptions)
            list.append({t.id, QString::fromUtf8(t.text)});
        return list;
    }();
    return entries;
}

std::optional<int> LangDll::builtInIdOf(const QString& english) {
    static const QHash<QString, int> ids = [] {
        QHash<QString, int> byText;
        // The first id of a text counts ("Comms" is 113 and 5018).
        for (const auto& [id, text] : builtInStrings())
            if (!byText.contains(text))
                byText.insert(text, id);
        return byText;
    }();
    const auto it = ids.constFind(english);
    if (it == ids.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> LangDll::builtInString(int id) {
    const StringTableEntries& entries = builtInStrings();
    const auto it =
        std::lower_bound(entries.begin(), entries.end(), id,
                         [](const QPair<int, QString>& e, int v) { return e.first < v; });
    if (it == entries.end() || it->first != id || it->second.isEmpty())
        return std::nullopt;
    return it->second;
}

QString LangDll::formatCatalogue(const StringTableEntries& entries) {
    QString out;
    for (const auto& [id, text] : entries) {
        QString oneLine = text;
        oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
        oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
        out += QString::number(id) + QLatin1Char('\t') + oneLine + QStringLiteral("\r\n");
    }
    return out;
}

Status LangDll::writeCatalogue(const QString& path, const StringTableEntries& entries) {
    const QByteArray bytes = formatCatalogue(entries).toUtf8();
    return writeFileAtomically(path, bytes);
}

} // namespace gp
