// The low-level flash window's command line: whatever the port's name and the
// image's file name hold (blanks, quotes, dollar signs, back-quotes, line
// breaks, a leading "-"), the line built for the flashing tool splits back
// into exactly the words meant: the program, the options, one "-p" word with
// the whole port, and one word with the whole image name. And splitting any
// text never yields a word that was not in it.

#include "flash/bossac.h"
#include "fuzz/fuzz_support.h"

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    if (in.flag()) {
        const QString text = QString::fromUtf8(in.rest());
        const auto words = gp::flash::splitCommandLine(text);
        if (words)
            for (const QString& w : *words)
                FUZZ_CHECK(w.size() <= text.size(), "a word longer than the line");
        return 0;
    }
    gp::flash::WriteOptions o;
    const uint8_t bits = in.byte();
    o.erase = bits & 1;
    o.verify = bits & 2;
    o.bootFromFlash = bits & 4;
    o.brownoutDetect = bits & 8;
    o.brownoutReset = bits & 16;
    o.lock = bits & 32;
    o.security = bits & 64;
    const QString port = QString::fromUtf8(in.chunk(60));
    const QString image = QString::fromUtf8(in.rest());
    if (port.isEmpty() || image.isEmpty())
        return 0;
    const QString line = gp::flash::buildCommandLine(o, port, image);
    const auto words = gp::flash::splitCommandLine(line);
    FUZZ_CHECK(words.has_value(), "the built line does not split: " + line);
    FUZZ_CHECK(!words->isEmpty() && words->first() == QLatin1String(gp::flash::kBossacProgram),
               "the line does not start with the tool: " + line);
    FUZZ_CHECK(words->count(QStringLiteral("-p") + port) == 1, "the port is not one word: " + line);
    const QString expectedImage =
        image.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + image : image;
    FUZZ_CHECK(words->last() == expectedImage, "the image is not the last word: " + line);
    for (const QString& w : words->mid(1, words->size() - 2))
        FUZZ_CHECK(w.startsWith(QLatin1Char('-')), "a stray word: " + w + " in " + line);
    return 0;
}
