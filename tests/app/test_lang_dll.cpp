// Language texts: the built-in English table, catalogues that override it id
// by id, the default catalogue name and the catalogue file format.

#include "app/lang_dll.h"
#include "support/small_disk.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using gp::LangDll;

namespace {

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

// The English table as the tool has always shipped it, typos included.
// Restated here on purpose: a test that read it from the code could not
// catch a changed text.
const QList<QPair<int, QString>> kEnglish = {
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
    {5025, "Attention: These Address and Baudrate settings only apply when all DIP-Swiches are "
           "set to \"OFF\"."},
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
    {7010, "WARNING: Failure to follow the instructions precisely may permently lock your "
           "device and require a factory re-program."},
    {7011, "Do you wish to continue?"},
    {7012, "Select firmware file to download."},
    {7020, "Profile Change"},
    {7021, "Select Profile file."},
    {10000, "Firmware Update Failed"},
    {10001, "Power cycle the device."},
    {10002, "Are you absolutely sure?"},
    {10003, "Quorvel Building Controls"},
    {10004, "Profile Changed Failed"},
    {10005, "Wrong Product Type."},
};

const QByteArray kNoCatalogue("<none>");

} // namespace

class TestLangDll : public QObject {
    Q_OBJECT

  private slots:
    void builtInTableIsTheEnglishTable();
    void withoutCatalogueEveryIdGivesItsEnglishText();
    void idWithoutTextIsAnError_data();
    void idWithoutTextIsAnError();
    void catalogueDefiningOnly101();
    void catalogueLines_data();
    void catalogueLines();
    void catalogueLookup_data();
    void catalogueLookup();
    void currentFolderIsTheOneAtLoadTime();
    void installedCataloguesAreFoundInShare_data();
    void installedCataloguesAreFoundInShare();
    void loadingReplacesOrDropsThePreviousCatalogue();
    void defaultNameFollowsLocaleLanguage_data();
    void defaultNameFollowsLocaleLanguage();
    void formatCatalogueWritesOneLinePerText();
    void exportedTableLoadsBackAsTheSameTexts();
    void writeCatalogueReportsFailure();
    void latin1CatalogueIsNoted_data();
    void latin1CatalogueIsNoted();
    void composedTextsAreTranslated_data();
    void composedTextsAreTranslated();
};

void TestLangDll::builtInTableIsTheEnglishTable() {
    // The product line's table as it stands, then the captions the tool
    // added: ids of their own, below 20000 where the export ends, each
    // text once.
    const gp::StringTableEntries all = LangDll::builtInStrings();
    QCOMPARE(all.mid(0, kEnglish.size()), kEnglish);
    QSet<QString> texts;
    int previous = LangDll::kFirstCaptionId - 1;
    for (const auto& [id, text] : all.mid(kEnglish.size())) {
        QVERIFY2(id > previous && id < 20000, qPrintable(QString::number(id)));
        QVERIFY2(!texts.contains(text) && !text.isEmpty() && !text.contains('&'), qPrintable(text));
        texts << text;
        previous = id;
        QCOMPARE(LangDll::builtInIdOf(text).has_value(), true);
        // What a catalogue line can hold.
        QVERIFY2(text.size() <= 255 && !text.contains('\n') && !text.contains('\r'),
                 qPrintable(text));
    }
    QVERIFY(texts.contains("Restore from backup...") && texts.contains("Yes"));
    QCOMPARE(QString::fromUtf8(gp::kMakerCompanyLine), QString("Quorvel Building Controls"));
}

void TestLangDll::withoutCatalogueEveryIdGivesItsEnglishText() {
    QTemporaryDir dir;
    LangDll lang(QLocale(QLocale::English), {dir.path()});
    QVERIFY(!lang.LoadLangDll("Glimmerpane_en")); // nothing there: silent fall-back
    QCOMPARE(lang.libraryName(), QString());
    for (const auto& [id, text] : kEnglish)
        QCOMPARE(lang.GetLangString(id), std::optional<QString>(text));
}

void TestLangDll::idWithoutTextIsAnError_data() {
    QTest::addColumn<QByteArray>("catalogue");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("expected"); // null: no text, the caller keeps its caption

    QTest::newRow("0 without catalogue") << kNoCatalogue << 0 << QString();
    QTest::newRow("116 without catalogue") << kNoCatalogue << 116 << QString();
    QTest::newRow("negative id") << kNoCatalogue << -1 << QString();
    QTest::newRow("just below the table") << kNoCatalogue << 100 << QString();
    QTest::newRow("just above 119") << kNoCatalogue << 120 << QString();
    QTest::newRow("far above the table") << kNoCatalogue << 20000 << QString();
    QTest::newRow("116 with a catalogue lacking it")
        << QByteArray("101\tTitel\r\n") << 116 << QString();
    QTest::newRow("116 from a catalogue defining it")
        << QByteArray("116\tExtra\r\n") << 116 << "Extra";
    QTest::newRow("0 even when the catalogue defines it")
        << QByteArray("0\tNull\r\n") << 0 << QString();
    QTest::newRow("negative id even when the catalogue defines it")
        << QByteArray("-3\tMinus\r\n") << -3 << QString();
    QTest::newRow("catalogue id 1 is asked") << QByteArray("1\tEins\r\n") << 1 << "Eins";
}

void TestLangDll::idWithoutTextIsAnError() {
    QFETCH(QByteArray, catalogue);
    QFETCH(int, id);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    LangDll lang(QLocale(QLocale::German), {dir.path()});
    if (catalogue != kNoCatalogue) {
        writeBytes(dir.filePath("Glimmerpane_de.lng"), catalogue);
        QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    }
    const std::optional<QString> text = lang.GetLangString(id);
    if (expected.isNull()) {
        QCOMPARE(text, std::nullopt);
        QCOMPARE(lang.GetLangStringOr(id, "Label2"), QString("Label2"));
    } else {
        QCOMPARE(text, std::optional<QString>(expected));
    }
}

void TestLangDll::catalogueDefiningOnly101() {
    QTemporaryDir dir;
    writeBytes(dir.filePath("Glimmerpane_de.lng"),
               "101\tQuorvel Touchscreen Konfigurationswerkzeug\r\n");
    LangDll lang(QLocale(QLocale::German), {dir.path()});
    QVERIFY(lang.LoadLangDll(lang.GetDefaultDllName()));
    QCOMPARE(lang.libraryName(), QString("Glimmerpane_de"));
    QCOMPARE(lang.GetLangString(101),
             std::optional<QString>("Quorvel Touchscreen Konfigurationswerkzeug"));
    for (const auto& [id, text] : kEnglish) {
        if (id != 101)
            QCOMPARE(lang.GetLangString(id), std::optional<QString>(text));
    }
}

void TestLangDll::catalogueLines_data() {
    QTest::addColumn<QByteArray>("catalogue");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("expected");

    QTest::newRow("CR LF lines") << QByteArray("102\tDatei\r\n111\tPort:\r\n") << 111 << "Port:";
    QTest::newRow("LF lines") << QByteArray("102\tDatei\n111\tPort:\n") << 111 << "Port:";
    QTest::newRow("CR lines") << QByteArray("102\tDatei\r111\tPort:\r") << 111 << "Port:";
    QTest::newRow("last line without line end")
        << QByteArray("102\tDatei\r\n111\tPort:") << 111 << "Port:";
    QTest::newRow("byte order mark before the first id") << QByteArray("\xEF\xBB\xBF"
                                                                       "102\tDatei\r\n")
                                                         << 102 << "Datei";
    QTest::newRow("UTF-8 text") << QByteArray("7009\tBeenden \xC3\xBC\xC3\x9F\r\n") << 7009
                                << QString::fromUtf8("Beenden \xC3\xBC\xC3\x9F");
    QTest::newRow("Latin-1 file read as Latin-1")
        << QByteArray("7009\tBeenden Ger\xE4t \xFC\r\n") << 7009
        << QString::fromUtf8("Beenden Ger\xC3\xA4t \xC3\xBC");
    QTest::newRow("one stray byte makes the whole file Latin-1")
        << QByteArray("7001\tGer\xC3\xA4t\r\n7009\tGer\xE4t\r\n") << 7001
        << QString::fromUtf8("Ger\xC3\x83\xC2\xA4t");
    QTest::newRow("blanks and later tabs belong to the text")
        << QByteArray("7009\t Ende\tjetzt \r\n") << 7009 << " Ende\tjetzt ";
    QTest::newRow("empty text falls back to English") << QByteArray("7009\t\r\n") << 7009 << "Exit";
    QTest::newRow("line without tab skipped")
        << QByteArray("7009 Ende\r\n7001\tLos\r\n") << 7009 << "Exit";
    QTest::newRow("id that is not a number skipped")
        << QByteArray("x7009\tEnde\r\n") << 7009 << "Exit";
    QTest::newRow("first of two equal ids counts")
        << QByteArray("7009\tEnde\r\n7009\tSchluss\r\n") << 7009 << "Ende";
    QTest::newRow("text of 255 characters kept whole")
        << QByteArray(255, 'a').prepend("101\t") << 101 << QString(255, 'a');
    QTest::newRow("text of 300 characters cut to 255")
        << QByteArray(300, 'b').prepend("101\t") << 101 << QString(255, 'b');
    QTest::newRow("cut never splits a surrogate pair")
        << QByteArray(254, 'c').prepend("101\t").append("\xF0\x9F\x98\x80xyz") << 101
        << QString(254, 'c');
}

void TestLangDll::catalogueLines() {
    QFETCH(QByteArray, catalogue);
    QFETCH(int, id);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    writeBytes(dir.filePath("Glimmerpane_de.lng"), catalogue);
    LangDll lang(QLocale(QLocale::German), {dir.path()});
    QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    QCOMPARE(lang.GetLangString(id), std::optional<QString>(expected));
}

void TestLangDll::catalogueLookup_data() {
    QTest::addColumn<QString>("fileInProgramFolder");
    QTest::addColumn<QString>("fileInCurrentFolder");
    QTest::addColumn<QString>("name");        // "@" stands for the temporary folder
    QTest::addColumn<QString>("expected102"); // "File": nothing loaded

    QTest::newRow("bare name gets .lng, program folder") << "Glimmerpane_de.lng"
                                                         << ""
                                                         << "Glimmerpane_de"
                                                         << "program";
    QTest::newRow("bare name gets .lng, current folder") << ""
                                                         << "Glimmerpane_de.lng"
                                                         << "Glimmerpane_de"
                                                         << "current";
    QTest::newRow("program folder before current folder") << "Glimmerpane_de.lng"
                                                          << "Glimmerpane_de.lng"
                                                          << "Glimmerpane_de"
                                                          << "program";
    QTest::newRow("name with extension taken unchanged") << "lang.txt"
                                                         << ""
                                                         << "lang.txt"
                                                         << "program";
    QTest::newRow("name with extension gets no .lng") << "lang.txt.lng"
                                                      << ""
                                                      << "lang.txt"
                                                      << "File";
    QTest::newRow("file without extension is not the bare name") << "Glimmerpane_de"
                                                                 << ""
                                                                 << "Glimmerpane_de"
                                                                 << "File";
    QTest::newRow("name with a folder taken as it stands") << ""
                                                           << ""
                                                           << "@/elsewhere/Glimmerpane_fi"
                                                           << "elsewhere";
    QTest::newRow("missing catalogue") << ""
                                       << ""
                                       << "Glimmerpane_xx"
                                       << "File";
    QTest::newRow("empty name") << "Glimmerpane_de.lng"
                                << ""
                                << ""
                                << "File";
}

void TestLangDll::catalogueLookup() {
    QFETCH(QString, fileInProgramFolder);
    QFETCH(QString, fileInCurrentFolder);
    QFETCH(QString, name);
    QFETCH(QString, expected102);
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkdir("program") && root.mkdir("current") && root.mkdir("elsewhere"));
    if (!fileInProgramFolder.isEmpty())
        writeBytes(root.filePath("program/" + fileInProgramFolder), "102\tprogram\r\n");
    if (!fileInCurrentFolder.isEmpty())
        writeBytes(root.filePath("current/" + fileInCurrentFolder), "102\tcurrent\r\n");
    writeBytes(root.filePath("elsewhere/Glimmerpane_fi.lng"), "102\telsewhere\r\n");
    name.replace("@", dir.path());

    LangDll lang(QLocale(QLocale::German), {root.filePath("program"), root.filePath("current")});
    const bool loaded = lang.LoadLangDll(name);
    QCOMPARE(loaded, expected102 != "File");
    QCOMPARE(lang.libraryName(), loaded ? name : QString());
    QCOMPARE(lang.GetLangString(102), std::optional<QString>(expected102));
}

void TestLangDll::currentFolderIsTheOneAtLoadTime() {
    QTemporaryDir dir;
    writeBytes(dir.filePath("Glimmerpane_de.lng"), "102\tDatei\r\n");
    const QString previous = QDir::currentPath();
    LangDll lang(QLocale(QLocale::German)); // program folder, then current folder
    QVERIFY(QDir::setCurrent(dir.path()));
    const bool loaded = lang.LoadLangDll("Glimmerpane_de");
    QDir::setCurrent(previous);
    QVERIFY(loaded);
    QCOMPARE(lang.GetLangString(102), std::optional<QString>("Datei"));
}

void TestLangDll::installedCataloguesAreFoundInShare_data() {
    QTest::addColumn<bool>("besideProgram");
    QTest::addColumn<bool>("inShare");
    QTest::addColumn<QString>("expected102");
    QTest::newRow("installed: only share/glimmerpane") << false << true << "Datei (share)";
    QTest::newRow("unpacked: only beside the program") << true << false << "Datei (bin)";
    QTest::newRow("both: the program's folder wins") << true << true << "Datei (bin)";
}

// Installed as PREFIX/bin/glimmerpane, the catalogues live in
// PREFIX/share/glimmerpane, where no one may write beside the program.
void TestLangDll::installedCataloguesAreFoundInShare() {
    QFETCH(bool, besideProgram);
    QFETCH(bool, inShare);
    QFETCH(QString, expected102);
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath("bin"));
    QVERIFY(QDir(prefix.path()).mkpath("share/glimmerpane"));
    if (besideProgram)
        writeBytes(prefix.filePath("bin/Glimmerpane_de.lng"), "102\tDatei (bin)\r\n");
    if (inShare)
        writeBytes(prefix.filePath("share/glimmerpane/Glimmerpane_de.lng"),
                   "102\tDatei (share)\r\n");
    const QStringList folders = LangDll::searchFoldersFor(prefix.filePath("bin"));
    QCOMPARE(folders.value(1), prefix.filePath("share/glimmerpane"));
    LangDll lang(QLocale(QLocale::German), folders);
    QVERIFY(lang.LoadLangDll(lang.GetDefaultDllName()));
    QCOMPARE(lang.GetLangString(102), std::optional<QString>(expected102));
}

void TestLangDll::loadingReplacesOrDropsThePreviousCatalogue() {
    QTemporaryDir dir;
    writeBytes(dir.filePath("Glimmerpane_de.lng"), "102\tDatei\r\n103\t\xC3\x96"
                                                   "ffnen\r\n");
    writeBytes(dir.filePath("Glimmerpane_fi.lng"), "102\tTiedosto\r\n");
    LangDll lang(QLocale(QLocale::Finnish), {dir.path()});

    QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    QVERIFY(lang.LoadLangDll("Glimmerpane_fi"));
    QCOMPARE(lang.libraryName(), QString("Glimmerpane_fi"));
    QCOMPARE(lang.GetLangString(102), std::optional<QString>("Tiedosto"));
    QCOMPARE(lang.GetLangString(103), std::optional<QString>("Open")); // none of German left

    QVERIFY(!lang.LoadLangDll("Glimmerpane_sv")); // a failed load still drops the old one
    QCOMPARE(lang.libraryName(), QString());
    QCOMPARE(lang.GetLangString(102), std::optional<QString>("File"));

    QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    lang.CloseLibrary();
    QCOMPARE(lang.libraryName(), QString());
    QCOMPARE(lang.GetLangString(102), std::optional<QString>("File"));
}

void TestLangDll::defaultNameFollowsLocaleLanguage_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << "Glimmerpane_de";
    QTest::newRow("Swiss German") << QLocale("de_CH") << "Glimmerpane_de";
    QTest::newRow("US English") << QLocale("en_US") << "Glimmerpane_en";
    QTest::newRow("Finnish") << QLocale(QLocale::Finnish) << "Glimmerpane_fi";
    QTest::newRow("POSIX C locale counts as English") << QLocale::c() << "Glimmerpane_en";
}

void TestLangDll::defaultNameFollowsLocaleLanguage() {
    QFETCH(QLocale, locale);
    QFETCH(QString, expected);
    QCOMPARE(LangDll(locale).GetDefaultDllName(), expected);
}

void TestLangDll::formatCatalogueWritesOneLinePerText() {
    const gp::StringTableEntries entries = {
        {7001, "Start"}, {101, QString::fromUtf8("T\xC3\xBC r")}, {5, "two\r\nlines\nhere\r"}};
    QCOMPARE(LangDll::formatCatalogue(entries),
             QString::fromUtf8("7001\tStart\r\n101\tT\xC3\xBC r\r\n5\ttwo lines here \r\n"));
    QCOMPARE(LangDll::formatCatalogue({}), QString());
}

// The built-in table exported in the catalogue format loads back as the same
// texts: the export and the loader agree on the format.
void TestLangDll::exportedTableLoadsBackAsTheSameTexts() {
    QTemporaryDir dir;
    const QString path = dir.filePath("StringTable.txt");
    writeBytes(path, "old contents\r\n");
    const gp::Status written = LangDll::writeCatalogue(path, LangDll::builtInStrings());
    QVERIFY2(written, qPrintable(written.error()));
    const QByteArray bytes = readBytes(path);
    QVERIFY(bytes.startsWith("101\tQuorvel Touchscreen Configuration Tool\r\n102\tFile\r\n"));
    QVERIFY(bytes.contains("\r\n7001\tStart\r\n"));
    QVERIFY(bytes.contains("\r\n10005\tWrong Product Type.\r\n12000\tAdvanced\r\n"));
    QCOMPARE(bytes.count("\r\n"), LangDll::builtInStrings().size());
    QCOMPARE(bytes.count('\n'), LangDll::builtInStrings().size());

    // Loaded as a catalogue, with the English table hidden behind it.
    LangDll lang(QLocale(QLocale::English), {dir.path()});
    QVERIFY(lang.LoadLangDll("StringTable.txt"));
    for (const auto& [id, text] : kEnglish)
        QCOMPARE(lang.GetLangString(id), std::optional<QString>(text));
}

void TestLangDll::writeCatalogueReportsFailure() {
    QTemporaryDir dir;
    gp::Status written =
        LangDll::writeCatalogue(dir.filePath("missing/StringTable.txt"), LangDll::builtInStrings());
    QVERIFY(!written);
    QVERIFY(!written.error().isEmpty());
    QVERIFY(!LangDll::writeCatalogue(dir.path(), LangDll::builtInStrings())); // a folder

    // A disk that fills during the export keeps the old table whole.
    const QString path = dir.filePath("StringTable.txt");
    writeBytes(path, "old contents\r\n");
    {
        gp::test::SmallDisk disk(256);
        QVERIFY(disk.active());
        written = LangDll::writeCatalogue(path, LangDll::builtInStrings());
        QVERIFY(!written);
    }
    QVERIFY2(written.error().startsWith("Cannot write"), qPrintable(written.error()));
    QCOMPARE(readBytes(path), QByteArray("old contents\r\n"));
}

void TestLangDll::latin1CatalogueIsNoted_data() {
    QTest::addColumn<QByteArray>("catalogue");
    QTest::addColumn<bool>("noted");
    QTest::newRow("UTF-8") << QByteArray("7009\tGer\xC3\xA4t\r\n") << false;
    QTest::newRow("plain ASCII") << QByteArray("7009\tEnde\r\n") << false;
    QTest::newRow("Latin-1") << QByteArray("7009\tGer\xE4t\r\n") << true;
}

void TestLangDll::latin1CatalogueIsNoted() {
    QFETCH(QByteArray, catalogue);
    QFETCH(bool, noted);
    QTemporaryDir dir;
    writeBytes(dir.filePath("Glimmerpane_de.lng"), catalogue);
    LangDll lang(QLocale(QLocale::German), {dir.path()});
    QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    QCOMPARE(!lang.loadNote().isEmpty(), noted);
    if (noted)
        QVERIFY(lang.loadNote().contains("Latin-1"));
    // The note belongs to the loaded file and goes with it.
    lang.CloseLibrary();
    QVERIFY(lang.loadNote().isEmpty());
}

// Messages composed while the tool runs: each English pattern given takes
// the catalogue text beside it, found by its English text's id.
using Translations = QList<QPair<QString, QString>>;

void TestLangDll::composedTextsAreTranslated_data() {
    QTest::addColumn<Translations>("catalogue");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("shown");
    const Translations confirmed{
        {"The unit confirmed %1 of %2 register writes.", "Bestaetigt: %1 von %2."},
        {"Not confirmed: %1.", "Unbestaetigt: %1."}};
    QTest::newRow("a caption") << Translations{{"Calibrate now?", "Jetzt kalibrieren?"}}
                               << "Calibrate now?"
                               << "Jetzt kalibrieren?";
    QTest::newRow("a file name put in")
        << Translations{{"Configuration saved to %1", "Konfiguration in %1 gespeichert"}}
        << "Configuration saved to /tmp/a b.cfg"
        << "Konfiguration in /tmp/a b.cfg gespeichert";
    QTest::newRow("parts in another order")
        << Translations{{"The unit confirmed %1 of %2 register writes.",
                         "%2 Werte, %1 bestaetigt."}}
        << "The unit confirmed 3 of 5 register writes."
        << "5 Werte, 3 bestaetigt.";
    QTest::newRow("a message put in a message")
        << Translations{{"Port %1: %2", "Anschluss %1: %2"},
                        {"the port does not exist", "den Anschluss gibt es nicht"}}
        << "Port ttyUSB0: the port does not exist"
        << "Anschluss ttyUSB0: den Anschluss gibt es nicht";
    QTest::newRow("sentences appended") << confirmed
                                        << "The unit confirmed 3 of 5 register writes. Not "
                                           "confirmed: 10, 11."
                                        << "Bestaetigt: 3 von 5. Unbestaetigt: 10, 11.";
    QTest::newRow("an appended part")
        << Translations{{"Written, but the unit did not confirm: %1", "Nicht bestaetigt: %1"},
                        {"(%1 sent again after a lost reply)", "(%1 wiederholt)"}}
        << "Written, but the unit did not confirm: 07 (2 sent "
           "again after a lost reply)"
        << "Nicht bestaetigt: 07 (2 wiederholt)";
    QTest::newRow("line by line")
        << Translations{{"Apply line %1 to the unit on %2?", "Zeile %1 an %2?"},
                        {"Name: %1", "Name: %1"},
                        {"The unit is read and recorded as found, written, read back and "
                         "recorded as left.",
                         "Gelesen, geschrieben, geprueft."}}
        << "Apply line 4 to the unit on ttyS0?\n\nName: R 1.04\nAddress: 5\n\nThe unit is read "
           "and recorded as found, written, read back and recorded as left."
        << "Zeile 4 an ttyS0?\n\nName: R 1.04\nAddress: 5\n\nGelesen, geschrieben, geprueft.";
    QTest::newRow("a sentence the catalogue lacks stays English")
        << confirmed << "The unit restarts. Not confirmed: 07."
        << "The unit restarts. Unbestaetigt: 07.";
    QTest::newRow("a pattern the catalogue lacks keeps its line")
        << Translations{{"Not confirmed: %1.", "Unbestaetigt: %1."}}
        << "The unit confirmed 3 of 5 register writes."
        << "The unit confirmed 3 of 5 register writes.";
    QTest::newRow("never inside a word")
        << Translations{{"Nothing was written.", "Nichts geschrieben."}} << "XNothing was written."
        << "XNothing was written.";
    QTest::newRow("a part's words only as the whole part")
        << Translations{{"the unit", "die Einheit"}} << "Power cycle the unit, then retry."
        << "Power cycle the unit, then retry.";
    QTest::newRow("the pattern's words in a file name")
        << Translations{{"Cannot write %1: %2", "%1 nicht geschrieben: %2"}}
        << "Cannot write /tmp/Cannot write: disk full"
        << "/tmp/Cannot write nicht geschrieben: disk full";
    QTest::newRow("a placeholder the English lacks stays")
        << Translations{{"Report written to %1", "Bericht %1 (%3)"}} << "Report written to r.pdf"
        << "Bericht r.pdf (%3)";
    QTest::newRow("no catalogue text at all") << Translations{} << "Configuration saved to x.cfg"
                                              << "Configuration saved to x.cfg";
}

void TestLangDll::composedTextsAreTranslated() {
    QFETCH(Translations, catalogue);
    QFETCH(QString, english);
    QTemporaryDir dir;
    QByteArray lines = "1\tunused\r\n"; // a catalogue, even when it has none of the texts
    for (const auto& [from, to] : catalogue) {
        const std::optional<int> id = LangDll::builtInIdOf(from);
        QVERIFY2(id && *id >= LangDll::kFirstCaptionId, qPrintable(from));
        lines += QByteArray::number(*id) + '\t' + to.toUtf8() + "\r\n";
    }
    writeBytes(QDir(dir.path()).filePath("Glimmerpane_de.lng"), lines);
    LangDll lang(QLocale(QLocale::German), {dir.path()});
    QCOMPARE(lang.translate(english), english); // nothing loaded yet
    QVERIFY(lang.LoadLangDll("Glimmerpane_de"));
    QTEST(lang.translate(english), "shown");
}

QTEST_GUILESS_MAIN(TestLangDll)
#include "test_lang_dll.moc"
