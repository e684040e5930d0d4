#pragma once
// Translatable texts, fetched by number. A language catalogue, when loaded,
// is asked first; the built-in English table answers every id the catalogue
// does not define, one id at a time.
//
// A catalogue is a UTF-8 text file ("Glimmerpane_de.lng"; a file that is not
// valid UTF-8 is read as Latin-1, as older translation files were saved): one line per text,
// the id in decimal, a TAB, the text to the line end (CR LF, CR or LF). Lines
// that do not parse are skipped; of two lines with the same id the first
// counts; an empty text counts as not defined. Texts are cut to 255
// characters, the size of the string buffer translators have always had.

#include "platform/result.h"

#include <QHash>
#include <QList>
#include <QLocale>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace gp {

// Text 10003 of the built-in table: the maker's company line.
inline constexpr char kMakerCompanyLine[] = "Quorvel Building Controls";

using StringTableEntries = QList<QPair<int, QString>>;

class LangDll {
  public:
    // The folders a bare catalogue name is looked up in, in this order: the
    // program's folder (when a QCoreApplication exists), the installed data
    // folder beside it (PREFIX/share/glimmerpane for PREFIX/bin) and the
    // current folder at the time of loading.
    static QStringList defaultSearchFolders();
    // The same for a program in programFolder.
    static QStringList searchFoldersFor(const QString& programFolder);

    // locale: whose language GetDefaultDllName names.
    explicit LangDll(QLocale locale = QLocale(),
                     QStringList searchFolders = defaultSearchFolders());
    ~LangDll();
    LangDll(const LangDll&) = delete;
    LangDll& operator=(const LangDll&) = delete;

    // Closes any catalogue, then loads strDll. A name without an extension
    // gets ".lng". A name with a folder in it is taken as it stands (relative
    // to the current folder); a bare name is looked for in each search folder
    // in turn. Returns whether a catalogue is now loaded; failing is silent
    // otherwise, and leaves the built-in texts in force.
    bool LoadLangDll(const QString& strDll);
    void CloseLibrary();

    // "Glimmerpane_" + the locale's two-letter ISO 639 language ("de" for
    // German). The POSIX "C" locale counts as English; a locale without a
    // language code gives two blanks.
    QString GetDefaultDllName() const;

    // The catalogue's text for ResourceID (ids of 1 and above), else the
    // built-in text. std::nullopt for an id neither defines (0, 116, ...):
    // the caller keeps the caption it has.
    std::optional<QString> GetLangString(int ResourceID) const;
    // GetLangString, or keep when there is no text for the id.
    QString GetLangStringOr(int ResourceID, const QString& keep) const;

    // The name passed to the last successful LoadLangDll; empty when none is
    // loaded.
    QString libraryName() const { return m_libraryName; }
    // The file the catalogue was read from; empty when none is loaded.
    QString libraryPath() const { return m_libraryPath; }
    // What the engineer should know about the loaded catalogue, said once by
    // whoever loaded it (the catalogue was read as Latin-1); empty otherwise.
    QString loadNote() const { return m_loadNote; }
    // The loaded catalogue's own text for id, never the built-in one: for
    // captions whose untranslated form differs from the built-in text.
    std::optional<QString> catalogueString(int id) const;

    // The text to show for a text the tool composed in English, taken line
    // by line. A line that is a built-in text takes the catalogue's text for
    // its id. A line, or a sentence piece of one, made from a built-in
    // pattern (a text with %1, %2...) takes the catalogue's pattern, with
    // its parts put in translated the same way. What neither covers stays
    // as it is; with no catalogue loaded the text comes back unchanged.
    QString translate(const QString& english) const;

    // The built-in English table, ascending by id, every text non-empty.
    static const StringTableEntries& builtInStrings();
    static std::optional<QString> builtInString(int id);
    // The id of a built-in English text, when the table has it.
    static std::optional<int> builtInIdOf(const QString& english);
    // The ids of the captions the tool added to the product line's table.
    static constexpr int kFirstCaptionId = 12000;
    // The ids of the sentences and patterns the tool composes its messages
    // from; translate() finds these inside a longer line too.
    static constexpr int kFirstComposedId = 13000;

    // Catalogue lines for entries, in the order given, each ending in CR LF.
    // A line break inside a text would end its line early, so it is written
    // as a blank.
    static QString formatCatalogue(const StringTableEntries& entries);
    // Replaces path atomically with formatCatalogue(entries) in UTF-8. On
    // failure any old file stays as it was.
    static Status writeCatalogue(const QString& path, const StringTableEntries& entries);

  private:
    QString translateText(const QString& text, int depth) const;
    QString translateLine(const QString& line, int depth) const;
    QString fillPattern(const QString& pattern, const QList<int>& numbers, const QStringList& parts,
                        int depth) const;

    QLocale m_locale;
    QStringList m_searchFolders;
    QString m_libraryName;
    QString m_libraryPath;
    QString m_loadNote;
    QHash<int, QString> m_catalogue;
};

} // namespace gp
