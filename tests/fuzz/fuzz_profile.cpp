// The ".pro" profile reader: reading a profile file of any content changes
// nothing about the file (bytes, permission bits), and the value that may
// reach register 01 is exactly what eight hex digits in the file encode.

#include "app/persist.h"
#include "config/profile_change.h"
#include "fuzz/fuzz_support.h"
#include "link/codec.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const bool readOnly = in.flag();
    const QByteArray content = in.rest();
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("unit.pro"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(content);
    }
    const QFileDevice::Permissions perms =
        readOnly ? QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther
                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QFile::setPermissions(path, perms);

    gp::Persist ini(dir.filePath(QStringLiteral("glimmerpane.ini")));
    std::optional<QString> cfg;
    for (const char* key : {"name", "cfg", "modelname", "oem", "filters1", "filters2"}) {
        const auto v =
            ini.ReadIniValueEx(QString::fromLatin1(key), QStringLiteral("[profile_0]"), path);
        if (QLatin1String(key) == QLatin1String("cfg"))
            cfg = v;
    }
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly), "the profile became unreadable");
    FUZZ_CHECK(f.readAll() == content, "reading the profile changed its content");
    FUZZ_CHECK((QFileInfo(path).permissions() & 0x7077) == (perms & 0x7077),
               "reading the profile changed its permissions");

    const QString text = cfg.value_or(QString());
    const auto value = gp::decodeProfileValue(text);
    if (value) {
        const QString t = text.trimmed().toUpper();
        FUZZ_CHECK(gp::HexLong(*value) == t, "decoded value differs from the file: " + text);
    }
    return 0;
}
