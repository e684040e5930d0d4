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
        return list;
    }();
    return entries;
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
