#include "app/persist.h"

#include "platform/atomic_file.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace gp {

namespace {

constexpr char kSettingsFileName[] = "glimmerpane.ini";
const QByteArray kLineEnd("\r\n");

struct Lines {
    QByteArrayList lines;
    bool lastEnded = false; // the last line had a line end of its own
};

// A line ends at CR LF, at a lone CR or at a lone LF.
Lines splitLines(const QByteArray& bytes) {
    Lines result;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            result.lines.append(line);
            line.clear();
            result.lastEnded = true;
        } else {
            line.append(c);
            result.lastEnded = false;
        }
    }
    if (!line.isEmpty())
        result.lines.append(line);
    return result;
}

// Only a line that is a header ends a section; "NAME=a[b]" does not.
bool isSectionHeader(const QByteArray& line) {
    const QByteArray t = line.trimmed();
    return t.size() >= 2 && t.startsWith('[') && t.endsWith(']');
}

// A line break would split the line and could plant keys or sections; the
// other control characters up to CR are what tidying strips from the file's
// end, so a value holding one would not read back as written.
bool hasControlChar(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() <= 13)
            return true;
    return false;
}

// The written file has no blank lines at its start or end, never two in a
// row, and ends with exactly one CR LF. Only line ends go with the blank
// lines: another control character belongs to a line, and dropping it could
// turn a line that was not a header into one, or change a value the caller
// did not write.
QByteArray tidy(QByteArray text) {
    const QByteArray threeEnds("\r\n\r\n\r\n");
    const QByteArray twoEnds("\r\n\r\n");
    while (text.contains(threeEnds))
        text.replace(threeEnds, twoEnds);
    auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
    while (!text.isEmpty() && isLineEnd(text.back()))
        text.chop(1);
    qsizetype start = 0;
    while (start < text.size() && isLineEnd(text[start]))
        ++start;
    return text.mid(start) + kLineEnd;
}

} // namespace

Persist::Persist(QString settingsPath) : m_settingsPath(std::move(settingsPath)) {}

QString Persist::defaultSettingsPath(const QString& programPath, const QString& userConfigDir) {
    const QFileInfo programFolder(QFileInfo(programPath).absolutePath());
    // An installed program's folder is the system's, even where this user
    // (root) may write it: beside the program only for a build tree or a
    // portable copy.
    const QString folderPath = programFolder.absoluteFilePath() + u'/';
    bool installed = false;
    for (const char* system : {"/usr/", "/bin/", "/sbin/", "/opt/", "/snap/"})
        installed = installed || folderPath.startsWith(QLatin1String(system));
    if (!installed && programFolder.isDir() && programFolder.isWritable())
        return QDir(programFolder.absoluteFilePath()).filePath(QLatin1String(kSettingsFileName));
    const QString base =
        userConfigDir.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            : userConfigDir;
    const QString folder = QDir(base).filePath(QStringLiteral("glimmerpane"));
    QDir().mkpath(folder);
    return QDir(folder).filePath(QLatin1String(kSettingsFileName));
}

QString Persist::GetIniPath() const {
    return QFileInfo(m_settingsPath).absolutePath();
}

std::optional<QString> Persist::ReadIniValue(const QString& Variable) {
    return ReadIniValueEx(Variable, QLatin1String(kDefaultSection), m_settingsPath);
}

bool Persist::WriteIniValue(const QString& PutVariable, const QString& PutValue) {
    return WriteIniValueEx(PutVariable, PutValue, QLatin1String(kDefaultSection), m_settingsPath);
}

std::optional<QByteArray> Persist::readFile(const QString& filepath) {
    QFile file(filepath);
    // A missing file holds no keys; a missing folder is a wrong path.
    if (!file.exists() && QFileInfo(QFileInfo(filepath).absolutePath()).isDir())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = QStringLiteral("cannot read %1: %2").arg(filepath, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_lastError = QStringLiteral("cannot read %1: %2").arg(filepath, file.errorString());
        return std::nullopt;
    }
    return bytes;
}

std::optional<QString> Persist::ReadIniValueEx(const QString& Variable, const QString& IniKey,
                                               const QString& filepath) {
    m_lastError.clear();
    if (!isSectionHeader(IniKey.toUtf8())) {
        m_lastError = QStringLiteral("not a section header: %1").arg(IniKey);
        return std::nullopt;
    }
    // Only read: a profile or settings file that is merely looked at keeps
    // its bytes, its time and its mode (a read-only file stays read-only).
    const std::optional<QByteArray> read = readFile(filepath);
    if (!read)
        return std::nullopt;
    const QByteArray& bytes = *read;

    const QByteArray header = IniKey.toUtf8().toLower();
    const QByteArray keyMark = Variable.toUtf8().toLower() + '=';
    bool inSection = false;
    for (const QByteArray& line : splitLines(bytes).lines) {
        const QByteArray low = line.toLower();
        if (isSectionHeader(line)) {
            inSection = low == header;
            continue;
        }
        if (inSection && low.startsWith(keyMark))
            return QString::fromUtf8(line.mid(keyMark.size()));
    }
    return QString();
}

bool Persist::WriteIniValueEx(const QString& PutVariable, const QString& PutValue,
                              const QString& IniKey, const QString& filepath) {
    m_lastError.clear();
    if (hasControlChar(PutVariable) || hasControlChar(PutValue) || hasControlChar(IniKey)) {
        m_lastError = QStringLiteral("a key, value or section holds a line break or another "
                                     "control character");
        return false;
    }
    if (!isSectionHeader(IniKey.toUtf8())) {
        m_lastError = QStringLiteral("not a section header: %1").arg(IniKey);
        return false;
    }
    const std::optional<QByteArray> read = readFile(filepath);
    if (!read)
        return false;
    Lines content = splitLines(*read);

    const QByteArray header = IniKey.toUtf8().toLower();
    const QByteArray keyMark = PutVariable.toUtf8().toLower() + '=';
    const QByteArray put = PutVariable.toUtf8() + '=' + PutValue.toUtf8();
    QByteArrayList& lines = content.lines;

    qsizetype headerAt = -1;
    for (qsizetype i = 0; i < lines.size() && headerAt < 0; ++i) {
        if (isSectionHeader(lines[i]) && lines[i].toLower() == header)
            headerAt = i;
    }

    QByteArray text;
    if (headerAt >= 0) {
        qsizetype keyAt = -1;
        for (qsizetype i = headerAt + 1; i < lines.size() && !isSectionHeader(lines[i]); ++i) {
            if (lines[i].toLower().startsWith(keyMark)) {
                keyAt = i;
                break;
            }
        }
        if (keyAt >= 0)
            lines[keyAt] = put;
        else
            lines.insert(headerAt + 1, put);
        text = lines.join(kLineEnd);
        if (content.lastEnded)
            text += kLineEnd;
    } else {
        text = lines.join(kLineEnd);
        if (content.lastEnded)
            text += kLineEnd;
        text += kLineEnd + kLineEnd + IniKey.toUtf8() + kLineEnd + put;
    }
    text = tidy(text);

    // A file made read-only by hand would refuse the write; writing the
    // settings lifts that protection, as the unit tool always did. Failing to
    // change the mode (someone else's file) is not an error by itself; the
    // write reports what really fails.
    QFile file(filepath);
    const QFileDevice::Permissions ownerRw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (file.exists() && (file.permissions() & ownerRw) != ownerRw)
        file.setPermissions(file.permissions() | ownerRw);

    // Written beside the old file and renamed over it once it is whole on
    // disk: a crash or a full disk leaves the old file, never a part of one.
    if (const Status written = writeFileAtomically(filepath, text); !written) {
        m_lastError = written.error();
        return false;
    }
    return true;
}

} // namespace gp
