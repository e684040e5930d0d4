#pragma once
// The program's settings file and other files of the same INI shape (device
// profiles). Every call opens, reads and closes the file, so edits made while
// the program runs are seen by the next read.
//
// File format: lines of key=value under section header lines such as
// "[default]". Keys match without regard to letter case but only when the line
// starts with the key and the "=" follows it directly ("PORT =COM3" and
// " PORT=COM3" are not PORT). Values come back exactly as stored. A section
// ends at the next line that is itself a header (trimmed, it starts with "["
// and ends with "]"); a "[" inside a value ends nothing. Lines may end in
// CR LF, CR or LF; the file is always written with CR LF, without blank lines
// at its start or end, never two blank lines in a row, ending in one CR LF.
//
// The file is handled as bytes: lines the caller does not touch are written
// back byte for byte, whatever their encoding. Keys and values cross the
// interface as UTF-8, and only ASCII letters fold case in key and header
// matching.
//
// Errors (the file cannot be created, read or replaced; a section that is not
// a "[...]" header; a key or value holding a line break, which would split its
// line) never throw: reads return
// std::nullopt, writes return false and leave the file as it was, and
// lastError() says why. A key that is simply absent reads as an empty text.

#include <QByteArray>
#include <QString>
#include <optional>

namespace gp {

class Persist {
  public:
    // The section of the program's own settings.
    static constexpr const char* kDefaultSection = "[default]";

    // settingsPath: the file ReadIniValue and WriteIniValue use.
    explicit Persist(QString settingsPath);

    // Where the program keeps its settings: "glimmerpane.ini" in the folder
    // of programPath (the program file) when that folder is writable and no
    // system folder (/usr, /bin, /sbin, /opt, /snap: installed), else in
    // "glimmerpane" under the user's configuration folder (userConfigDir; when
    // empty, the platform's, such as ~/.config). The file is replaced by
    // renaming a new one over it, which needs a writable folder, not just a
    // writable file. The fallback folder is created when missing.
    static QString defaultSettingsPath(const QString& programPath,
                                       const QString& userConfigDir = QString());

    std::optional<QString> ReadIniValue(const QString& Variable);
    bool WriteIniValue(const QString& PutVariable, const QString& PutValue);

    // IniKey: the section header line with its brackets ("[profile_0]"),
    // compared without regard to letter case. Reading never changes the
    // file: a missing file reads as empty (and is not created), a read-only
    // file stays read-only.
    std::optional<QString> ReadIniValueEx(const QString& Variable, const QString& IniKey,
                                          const QString& filepath);
    // The key is written exactly as passed, letter case included, replacing
    // the first line of the section that holds it; a new key becomes the
    // first line after the section header; a missing section is appended
    // after one blank line. The file is replaced atomically, and only once
    // the new one is whole on disk. A read-only file is made readable and
    // writable by its owner first (the counterpart of clearing read-only,
    // hidden and system attributes; a file name starting with a dot stays
    // hidden, since on Linux the name is what hides it).
    bool WriteIniValueEx(const QString& PutVariable, const QString& PutValue, const QString& IniKey,
                         const QString& filepath);

    // The folder that holds the settings file (beside the program, unless
    // defaultSettingsPath chose the user's configuration folder).
    QString GetIniPath() const;

    QString settingsPath() const { return m_settingsPath; }
    QString lastError() const { return m_lastError; }

  private:
    std::optional<QByteArray> readFile(const QString& filepath);

    QString m_settingsPath;
    QString m_lastError;
};

} // namespace gp
