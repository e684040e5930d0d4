// The settings file: whatever the file holds, writing one key changes no
// other key, the written key reads back as written, and a refused write
// leaves the file byte for byte as it was.

#include "app/persist.h"
#include "fuzz/fuzz_support.h"

#include <QFile>
#include <QTemporaryDir>

using gp::fuzz::FuzzInput;

namespace {
const QStringList kKeys{QStringLiteral("PORT"), QStringLiteral("LANG_DLL"),
                        QStringLiteral("CALIBRATION"), QStringLiteral("ADVANCED"),
                        QStringLiteral("FASTLINK")};
const QStringList kSections{QStringLiteral("[default]"), QStringLiteral("[profile_0]")};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const QString section = kSections[in.byte() % kSections.size()];
    const QString key = kKeys[in.byte() % kKeys.size()];
    const QString value = QString::fromUtf8(in.chunk(40));
    const QByteArray content = in.rest();

    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("glimmerpane.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(content);
    }
    gp::Persist persist(path);
    auto readAll = [&] {
        QList<std::optional<QString>> values;
        for (const QString& s : kSections)
            for (const QString& k : kKeys)
                values << persist.ReadIniValueEx(k, s, path);
        return values;
    };
    const auto before = readAll();
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytesBefore = f.readAll();
    f.close();

    const bool written = persist.WriteIniValueEx(key, value, section, path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytesAfter = f.readAll();
    f.close();
    if (!written) {
        FUZZ_CHECK(bytesAfter == bytesBefore, "a refused write changed the file");
        return 0;
    }
    const auto after = readAll();
    int i = 0;
    for (const QString& s : kSections) {
        for (const QString& k : kKeys) {
            if (s == section && k == key)
                FUZZ_CHECK(after[i] && *after[i] == value,
                           "the written key reads back otherwise: " + k + " value [" +
                               QString::fromLatin1(value.toUtf8().toHex()) + "] got [" +
                               after[i].value_or("<none>") +
                               "] file: " + QString::fromLatin1(bytesAfter.toPercentEncoding()));
            else
                FUZZ_CHECK(
                    after[i] == before[i],
                    "writing " + key + " changed " + s + k + " from [" +
                        before[i].value_or("<none>") + "] to [" + after[i].value_or("<none>") +
                        "] file before: " + QString::fromLatin1(bytesBefore.toPercentEncoding()));
            ++i;
        }
    }
    return 0;
}
