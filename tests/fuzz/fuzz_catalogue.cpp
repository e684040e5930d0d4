// The language catalogue: a string table exported by the tool reads back as
// the same texts (line breaks become blanks, texts longer than the
// translators' buffer are cut, an empty text leaves the built-in one), and a
// catalogue of any bytes loads without harm.

#include "app/lang_dll.h"
#include "fuzz/fuzz_support.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Glimmerpane_xx.lng"));
    gp::LangDll lang(QLocale::c(), {dir.path()});

    if (!in.flag()) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(in.rest());
        f.close();
        if (lang.LoadLangDll(path))
            for (int id : {1, 5021, 10003, 65535})
                (void)lang.GetLangString(id);
        return 0;
    }

    gp::StringTableEntries entries;
    QSet<int> ids;
    while (!in.empty()) {
        const int id = 1 + int(in.u32() % 70000);
        const QString text = QString::fromUtf8(in.chunk(255));
        if (ids.contains(id))
            continue;
        ids.insert(id);
        entries.append({id, text});
    }
    const gp::Status written = gp::LangDll::writeCatalogue(path, entries);
    FUZZ_CHECK(written.ok(), written.error());
    FUZZ_CHECK(lang.LoadLangDll(path), "the exported catalogue does not load");
    for (const auto& [id, text] : entries) {
        QString expected = text;
        expected.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        expected.replace(QLatin1Char('\r'), QLatin1Char(' '));
        expected.replace(QLatin1Char('\n'), QLatin1Char(' '));
        expected.truncate(255);
        const std::optional<QString> got = lang.GetLangString(id);
        if (expected.isEmpty())
            FUZZ_CHECK(got == gp::LangDll::builtInString(id), "an empty text hid the built-in");
        else
            FUZZ_CHECK(got && *got == expected,
                       QStringLiteral("text %1 read back as \"%2\", exported \"%3\"")
                           .arg(id)
                           .arg(got.value_or(QStringLiteral("<none>")), expected));
    }
    return 0;
}
