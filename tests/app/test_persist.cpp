// The settings store: what a read finds and the exact bytes a write leaves.

#include "app/persist.h"
#include "support/small_disk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using gp::Persist;

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

const QByteArray kMissing("<missing>");

} // namespace

class TestPersist : public QObject {
    Q_OBJECT

  private slots:
    void readFindsValue_data();
    void readFindsValue();
    void writeLeavesExactBytes_data();
    void writeLeavesExactBytes();
    void settingsFileUsesDefaultSection();
    void readOfMissingFileFindsNothingAndCreatesNothing();
    void writtenValuesReadBack();
    void malformedWriteIsRefusedAndFileKept();
    void unreachableFileIsReportedNotThrown();
    void readOnlyFileIsMadeWritableByAWriteOnly();
    void readLeavesFileUntouched();
    void replacementLeavesOldFileWholeForItsReaders();
    void fullDiskKeepsOldFileAndFails();
    void defaultSettingsPathPrefersProgramFolder();
};

void TestPersist::readFindsValue_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("expected");

    const QString def = "[default]";
    QTest::newRow("key matched without regard to case")
        << QByteArray("[default]\r\nPORT=COM3\r\n") << "port" << def << "COM3";
    QTest::newRow("value kept exactly as stored")
        << QByteArray("[default]\r\nport=CoM3 \r\n") << "PORT" << def << "CoM3 ";
    QTest::newRow("value holding an equals sign")
        << QByteArray("[default]\r\nNAME=a=b\r\n") << "NAME" << def << "a=b";
    QTest::newRow("blank after equals belongs to the value")
        << QByteArray("[default]\r\nPORT= COM3\r\n") << "PORT" << def << " COM3";
    QTest::newRow("key in another section is not found")
        << QByteArray("[other]\r\nPORT=COM3\r\n[default]\r\nLANG_DLL=x\r\n") << "PORT" << def << "";
    QTest::newRow("key before any section is not found")
        << QByteArray("PORT=COM3\r\n[default]\r\n") << "PORT" << def << "";
    QTest::newRow("blank before the key: not found")
        << QByteArray("[default]\r\n PORT=COM3\r\n") << "PORT" << def << "";
    QTest::newRow("blank before equals: not found")
        << QByteArray("[default]\r\nPORT =COM3\r\n") << "PORT" << def << "";
    QTest::newRow("blanks around equals: not found")
        << QByteArray("[default]\r\nPORT = COM3\r\n") << "PORT" << def << "";
    QTest::newRow("longer key with the same start is another key")
        << QByteArray("[default]\r\nPORTS=2\r\n") << "PORT" << def << "";
    QTest::newRow("first of two equal keys wins")
        << QByteArray("[default]\r\nPORT=COM1\r\nport=COM2\r\n") << "PORT" << def << "COM1";
    QTest::newRow("header compared in lower case")
        << QByteArray("[DEFAULT]\r\nPORT=COM3\r\n") << "PORT" << def << "COM3";
    QTest::newRow("header with trailing text is not the section")
        << QByteArray("[default] ;main\r\nPORT=COM3\r\n") << "PORT" << def << "";
    QTest::newRow("indented header ends the section")
        << QByteArray("[default]\r\n  [other]  \r\nPORT=COM3\r\n") << "PORT" << def << "";
    QTest::newRow("value holding a bracket does not end the section")
        << QByteArray("[default]\r\nTITLE=Room [3]\r\nPORT=COM3\r\n") << "PORT" << def << "COM3";
    QTest::newRow("value starting with a bracket does not end the section")
        << QByteArray("[default]\r\nNOTE=[x\r\nPORT=COM3\r\n") << "PORT" << def << "COM3";
    QTest::newRow("a bracketed value is still a value")
        << QByteArray("[default]\r\nNOTE=[x]\r\n") << "NOTE" << def << "[x]";
    QTest::newRow("last line without line end")
        << QByteArray("[default]\r\nPORT=COM3") << "PORT" << def << "COM3";
    QTest::newRow("lines ending in CR only")
        << QByteArray("[default]\rA=1\rPORT=COM3\r") << "PORT" << def << "COM3";
    QTest::newRow("lines ending in LF only")
        << QByteArray("[default]\nA=1\nPORT=COM3\n") << "PORT" << def << "COM3";
    QTest::newRow("key with an empty value")
        << QByteArray("[default]\r\nLANG_DLL=\r\n") << "LANG_DLL" << def << "";
    QTest::newRow("profile section read with its own header")
        << QByteArray("[profile_0]\r\nname=Room\r\ncfg=0AC00300\r\n") << "CFG"
        << "[profile_0]"
        << "0AC00300";
    QTest::newRow("same section twice: the second is searched too")
        << QByteArray("[default]\r\nA=1\r\n[x]\r\nPORT=no\r\n[default]\r\nPORT=COM5\r\n") << "PORT"
        << def << "COM5";
    QTest::newRow("UTF-8 value") << QByteArray(
                                        "[default]\r\nLANG_DLL=Glimmerpane_d\xC3\xA9.lng\r\n")
                                 << "LANG_DLL" << def
                                 << QString::fromUtf8("Glimmerpane_d\xC3\xA9.lng");
}

void TestPersist::readFindsValue() {
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, section);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    writeBytes(path, file);
    Persist store(dir.filePath("unused.ini"));
    const std::optional<QString> value = store.ReadIniValueEx(key, section, path);
    QVERIFY2(value.has_value(), qPrintable(store.lastError()));
    QCOMPARE(*value, expected);
    QCOMPARE(readBytes(path), file); // a read never rewrites
}

void TestPersist::writeLeavesExactBytes_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QByteArray>("after");

    const QString def = "[default]";
    QTest::newRow("missing file gets header and key")
        << kMissing << "PORT"
        << "COM3" << def << QByteArray("[default]\r\nPORT=COM3\r\n");
    QTest::newRow("empty file gets header and key")
        << QByteArray() << "PORT"
        << "COM3" << def << QByteArray("[default]\r\nPORT=COM3\r\n");
    QTest::newRow("empty value stands as key and equals")
        << QByteArray("[default]\r\nPORT=COM3\r\n") << "LANG_DLL"
        << "" << def << QByteArray("[default]\r\nLANG_DLL=\r\nPORT=COM3\r\n");
    QTest::newRow("replacement writes the key as passed")
        << QByteArray("[default]\r\nPORT=COM1\r\nLANG_DLL=\r\n") << "port"
        << "COM4" << def << QByteArray("[default]\r\nport=COM4\r\nLANG_DLL=\r\n");
    QTest::newRow("new key becomes the first line of its section")
        << QByteArray("[default]\r\nA=1\r\nB=2\r\n") << "PORT"
        << "COM3" << def << QByteArray("[default]\r\nPORT=COM3\r\nA=1\r\nB=2\r\n");
    QTest::newRow("key of another section is left alone")
        << QByteArray("[other]\r\nPORT=X\r\n\r\n[default]\r\nA=1\r\n") << "PORT"
        << "COM2" << def
        << QByteArray("[other]\r\nPORT=X\r\n\r\n[default]\r\nPORT=COM2\r\nA=1\r\n");
    QTest::newRow("key in the next section is not this section's")
        << QByteArray("[default]\r\nA=1\r\n[other]\r\nPORT=X\r\n") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nPORT=COM2\r\nA=1\r\n[other]\r\nPORT=X\r\n");
    QTest::newRow("missing section appended after one blank line")
        << QByteArray("[other]\r\nA=1\r\n") << "PORT"
        << "COM3" << def << QByteArray("[other]\r\nA=1\r\n\r\n[default]\r\nPORT=COM3\r\n");
    QTest::newRow("missing section after a last line without line end")
        << QByteArray("[other]\r\nA=1") << "PORT"
        << "COM3" << def << QByteArray("[other]\r\nA=1\r\n\r\n[default]\r\nPORT=COM3\r\n");
    QTest::newRow("three blank lines between sections become one")
        << QByteArray("[a]\r\nX=1\r\n\r\n\r\n\r\n[default]\r\nPORT=1\r\n") << "PORT"
        << "2" << def << QByteArray("[a]\r\nX=1\r\n\r\n[default]\r\nPORT=2\r\n");
    QTest::newRow("single blank line kept")
        << QByteArray("[default]\r\nPORT=1\r\n\r\n[a]\r\nX=1\r\n") << "PORT"
        << "2" << def << QByteArray("[default]\r\nPORT=2\r\n\r\n[a]\r\nX=1\r\n");
    // Found by fuzzing: tidying dropped every control character at the
    // file's ends, which made a header of a line that was none and cut a
    // value the write did not touch.
    QTest::newRow("control character before a header stays")
        << QByteArray("\x04[default]\r\nPORT=1\r\n") << "ADVANCED"
        << "2" << def << QByteArray("\x04[default]\r\nPORT=1\r\n\r\n[default]\r\nADVANCED=2\r\n");
    QTest::newRow("control character ending the last value stays")
        << QByteArray("[default]\r\nPORT=1\x04") << "ADVANCED"
        << "2" << def << QByteArray("[default]\r\nADVANCED=2\r\nPORT=1\x04\r\n");
    QTest::newRow("blank lines at start and end dropped")
        << QByteArray("\r\n\r\n[default]\r\nPORT=1\r\n\r\n\r\n") << "PORT"
        << "2" << def << QByteArray("[default]\r\nPORT=2\r\n");
    QTest::newRow("key on a last line without line end is replaced")
        << QByteArray("[default]\r\nA=1\r\nPORT=COM1") << "PORT"
        << "COM9" << def << QByteArray("[default]\r\nA=1\r\nPORT=COM9\r\n");
    QTest::newRow("key below a value holding a bracket is replaced, not doubled")
        << QByteArray("[default]\r\nTITLE=Room [3]\r\nPORT=COM1\r\n") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nTITLE=Room [3]\r\nPORT=COM2\r\n");
    QTest::newRow("header on a last line without line end")
        << QByteArray("[x]\r\nA=1\r\n[default]") << "PORT"
        << "COM3" << def << QByteArray("[x]\r\nA=1\r\n[default]\r\nPORT=COM3\r\n");
    QTest::newRow("header compared in lower case, kept as it is")
        << QByteArray("[Default]\r\nPORT=COM1\r\n") << "PORT"
        << "COM2" << def << QByteArray("[Default]\r\nPORT=COM2\r\n");
    QTest::newRow("longer key with the same start is kept")
        << QByteArray("[default]\r\nPORTS=1\r\n") << "PORT"
        << "2" << def << QByteArray("[default]\r\nPORT=2\r\nPORTS=1\r\n");
    QTest::newRow("key line with blanks around equals is not the key")
        << QByteArray("[default]\r\nPORT = COM1\r\n") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nPORT=COM2\r\nPORT = COM1\r\n");
    QTest::newRow("only the first of two equal keys is replaced")
        << QByteArray("[default]\r\nPORT=COM1\r\nPORT=COM7\r\n") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nPORT=COM2\r\nPORT=COM7\r\n");
    QTest::newRow("CR-only file rewritten with CR LF")
        << QByteArray("[default]\rPORT=COM1\rA=1\r") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nPORT=COM2\r\nA=1\r\n");
    QTest::newRow("LF-only file rewritten with CR LF")
        << QByteArray("[default]\nPORT=COM1\n\n[x]\nA=1\n") << "PORT"
        << "COM2" << def << QByteArray("[default]\r\nPORT=COM2\r\n\r\n[x]\r\nA=1\r\n");
    QTest::newRow("untouched lines keep their bytes")
        << QByteArray("[default]\r\nNAME=caf\xE9\r\nOTHER=\xC3\xA9t\xC3\xA9\r\n") << "PORT"
        << "COM1" << def
        << QByteArray("[default]\r\nPORT=COM1\r\nNAME=caf\xE9\r\nOTHER=\xC3\xA9t\xC3\xA9\r\n");
    QTest::newRow("value written in UTF-8")
        << kMissing << "LANG_DLL" << QString::fromUtf8("d\xC3\xA9.lng") << def
        << QByteArray("[default]\r\nLANG_DLL=d\xC3\xA9.lng\r\n");
    QTest::newRow("profile section written with its own header")
        << QByteArray("[default]\r\nPORT=COM1\r\n") << "cfg"
        << "0AC00300"
        << "[profile_0]"
        << QByteArray("[default]\r\nPORT=COM1\r\n\r\n[profile_0]\r\ncfg=0AC00300\r\n");
}

void TestPersist::writeLeavesExactBytes() {
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, section);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    if (before != kMissing)
        writeBytes(path, before);
    Persist store(dir.filePath("unused.ini"));
    QVERIFY2(store.WriteIniValueEx(key, value, section, path), qPrintable(store.lastError()));
    QCOMPARE(readBytes(path), after);
}

void TestPersist::settingsFileUsesDefaultSection() {
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    writeBytes(path, "[other]\r\nPORT=ttyS9\r\n");
    Persist store(path);
    QCOMPARE(store.ReadIniValue("PORT"), std::optional<QString>(QString()));
    QVERIFY(store.WriteIniValue("PORT", "ttyUSB0"));
    QCOMPARE(readBytes(path),
             QByteArray("[other]\r\nPORT=ttyS9\r\n\r\n[default]\r\nPORT=ttyUSB0\r\n"));
    QCOMPARE(store.ReadIniValue("port"), std::optional<QString>("ttyUSB0"));
    QCOMPARE(store.GetIniPath(), QDir(dir.path()).absolutePath());
}

void TestPersist::readOfMissingFileFindsNothingAndCreatesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    Persist store(path);
    QCOMPARE(store.ReadIniValue("PORT"), std::optional<QString>(QString()));
    QVERIFY(!QFile::exists(path));
}

// Start-up's own sequence on a fresh folder, read back through the store.
void TestPersist::writtenValuesReadBack() {
    QTemporaryDir dir;
    Persist store(dir.filePath("glimmerpane.ini"));
    QVERIFY(store.WriteIniValue("PORT", "ttyUSB0"));
    QVERIFY(store.WriteIniValue("LANG_DLL", ""));
    QVERIFY(store.WriteIniValue("Port", "/dev/pts/4"));
    QCOMPARE(readBytes(store.settingsPath()),
             QByteArray("[default]\r\nLANG_DLL=\r\nPort=/dev/pts/4\r\n"));
    QCOMPARE(store.ReadIniValue("PORT"), std::optional<QString>("/dev/pts/4"));
    QCOMPARE(store.ReadIniValue("lang_dll"), std::optional<QString>(QString()));
    QCOMPARE(store.ReadIniValue("CALIBRATION"), std::optional<QString>(QString()));
}

void TestPersist::malformedWriteIsRefusedAndFileKept() {
    QTemporaryDir dir;
    Persist store(dir.filePath("glimmerpane.ini"));
    const QByteArray before("[default]\r\nPORT=COM1\r\n");
    writeBytes(store.settingsPath(), before);
    QVERIFY(!store.WriteIniValue("PORT", "x\r\n[default]\r\nADVANCED=plodnivster"));
    QVERIFY(!store.WriteIniValue("PORT", "x\ny"));
    QVERIFY(!store.WriteIniValue("A\rB", "1"));
    // Found by fuzzing: a control character at the end of the file's last
    // value was tidied away with the blank lines, so it read back otherwise.
    QVERIFY(!store.WriteIniValue("CALIBRATION", "\x04"));
    QVERIFY(!store.WriteIniValue("PORT", "tty\tS0"));
    QVERIFY(!store.WriteIniValueEx("PORT", "COM2", "default", store.settingsPath()));
    QCOMPARE(store.ReadIniValueEx("PORT", "default", store.settingsPath()), std::nullopt);
    QVERIFY(!store.lastError().isEmpty());
    QCOMPARE(readBytes(store.settingsPath()), before);
}

void TestPersist::unreachableFileIsReportedNotThrown() {
    QTemporaryDir dir;
    Persist store(dir.filePath("no-such-folder/glimmerpane.ini"));
    QCOMPARE(store.ReadIniValue("PORT"), std::nullopt);
    QVERIFY(!store.lastError().isEmpty());
    QVERIFY(!store.WriteIniValue("PORT", "COM1"));
    QVERIFY(!store.lastError().isEmpty());

    Persist folderAsFile(dir.path()); // a folder where the file should be
    QCOMPARE(folderAsFile.ReadIniValue("PORT"), std::nullopt);
    QVERIFY(!folderAsFile.WriteIniValue("PORT", "COM1"));
}

void TestPersist::readOnlyFileIsMadeWritableByAWriteOnly() {
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    writeBytes(path, "[default]\r\nPORT=COM1\r\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    Persist store(path);
    QVERIFY2(store.WriteIniValue("PORT", "COM2"), qPrintable(store.lastError()));
    QCOMPARE(readBytes(path), QByteArray("[default]\r\nPORT=COM2\r\n"));
    const QFileDevice::Permissions mode = QFile::permissions(path);
    QVERIFY(mode.testFlag(QFileDevice::ReadOwner));
    QVERIFY(mode.testFlag(QFileDevice::WriteOwner));
}

// A profile handed out read-only, or a settings file only looked at, is the
// same file after the read: mode, bytes and time.
void TestPersist::readLeavesFileUntouched() {
    QTemporaryDir dir;
    const QString path = dir.filePath("room.pro");
    const QByteArray bytes("[profile_0]\r\nname=Room\r\ncfg=room.cfg\r\n");
    writeBytes(path, bytes);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(path, readOnly));
    const QDateTime modified = QFileInfo(path).lastModified();
    Persist store(dir.filePath("glimmerpane.ini"));
    QCOMPARE(store.ReadIniValueEx("name", "[profile_0]", path), std::optional<QString>("Room"));
    QCOMPARE(store.ReadIniValueEx("absent", "[profile_0]", path), std::optional<QString>(""));
    QCOMPARE(QFile::permissions(path) &
                 ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
             readOnly);
    QCOMPARE(readBytes(path), bytes);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"room.pro"});
}

// A write builds the new file and renames it over the old one. A program
// that had the old file open still reads it whole, which an in-place rewrite
// (truncate, then write) would not give.
void TestPersist::replacementLeavesOldFileWholeForItsReaders() {
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    const QByteArray before("[default]\r\nPORT=COM1\r\nLANG_DLL=\r\n");
    writeBytes(path, before);
    QFile oldReader(path);
    QVERIFY(oldReader.open(QIODevice::ReadOnly));
    Persist store(path);
    QVERIFY(store.WriteIniValue("PORT", "COM2"));
    QCOMPARE(oldReader.readAll(), before);
    QCOMPARE(readBytes(path), QByteArray("[default]\r\nPORT=COM2\r\nLANG_DLL=\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"glimmerpane.ini"}); // no temporary file left behind
}

void TestPersist::fullDiskKeepsOldFileAndFails() {
    QTemporaryDir dir;
    const QString path = dir.filePath("glimmerpane.ini");
    const QByteArray before("[default]\r\nPORT=COM1\r\n");
    writeBytes(path, before);
    Persist store(path);
    bool written = true;
    {
        gp::test::SmallDisk disk(before.size() + 8);
        QVERIFY(disk.active());
        written = store.WriteIniValue("LANG_DLL", QString(200, QLatin1Char('x')));
    }
    QVERIFY(!written);
    QVERIFY2(store.lastError().startsWith("Cannot write"), qPrintable(store.lastError()));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"glimmerpane.ini"});
}

void TestPersist::defaultSettingsPathPrefersProgramFolder() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("bin"));
    const QString program = dir.filePath("bin/glimmerpane");
    const QString userConfig = dir.filePath("home/.config");
    QCOMPARE(Persist::defaultSettingsPath(program, userConfig),
             dir.filePath("bin/glimmerpane.ini"));

    // A folder that cannot take the file (here: one that does not exist)
    // sends the settings to the user's configuration folder, created on
    // demand.
    const QString elsewhere =
        Persist::defaultSettingsPath(dir.filePath("gone/glimmerpane"), userConfig);
    QCOMPARE(elsewhere, dir.filePath("home/.config/glimmerpane/glimmerpane.ini"));
    QVERIFY(QFileInfo(dir.filePath("home/.config/glimmerpane")).isDir());
    QVERIFY(Persist(elsewhere).WriteIniValue("PORT", "ttyUSB0"));

    // Installed, the settings go to the user's folder even for root, who
    // may write the program's folder.
    QCOMPARE(Persist::defaultSettingsPath("/usr/bin/glimmerpane", userConfig), elsewhere);
    QCOMPARE(Persist::defaultSettingsPath("/usr/local/bin/glimmerpane", userConfig), elsewhere);

    if (::geteuid() != 0) { // root may write anywhere
        QVERIFY(QFile::setPermissions(dir.filePath("bin"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QCOMPARE(Persist::defaultSettingsPath(program, userConfig), elsewhere);
        QFile::setPermissions(dir.filePath("bin"), QFileDevice::ReadOwner |
                                                       QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner);
    }
}

QTEST_GUILESS_MAIN(TestPersist)
#include "test_persist.moc"
