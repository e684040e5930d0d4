#include "unit/logo_transfer.h"

#include "link/codec.h"
#include "link/link.h"
#include "platform/atomic_file.h"
#include "unit/cfg_file.h"

#include <QFile>
#include <QRegularExpression>

namespace gp {

int ReadLogo(Link& link) {
    QStringList frames;
    for (int b = 0; b < kLogoWords; ++b)
        frames << BuildLRead(b);
    return link.startBatch(frames, kLogoWords + 1);
}

int WriteLogo(Link& link) {
    return link.startBatch(logoFileLines(link.state), kLogoWords + 1);
}

LogoFile logoFramesFromLines(const QStringList& lines) {
    // A logo line is a read or write of one block. Anything else (a system
    // action such as ":SAMBA#" or ":SD#", a register write) has no place in
    // a logo and could change the unit's state, so the file is refused.
    static const QRegularExpression re(QStringLiteral("^:L([0-9A-Fa-f]{2})([0-9A-Fa-f]{8})?#$"));
    LogoFile file;
    const int n = qMin<int>(static_cast<int>(lines.size()), kLogoWords);
    for (int i = 0; i < n; ++i) {
        const QString line = lines[i];
        if (line.isEmpty()) {
            if (i == 0)
                continue; // nothing to send for it; the transfer goes on
            break;        // an empty entry ends the batch
        }
        const auto m = re.match(line);
        if (!m.hasMatch()) {
            file.frames.clear();
            file.error = QStringLiteral("Line %1 (\"%2\") is not a logo frame like "
                                        ":L00FFFFFFFF#. Nothing was sent.")
                             .arg(i + 1)
                             .arg(line.left(40));
            return file;
        }
        const int block = ParseHexByte(m.captured(1).toUpper());
        if (m.captured(2).isEmpty())
            file.frames << BuildLRead(block);
        else
            file.frames << BuildItemWrite(QLatin1Char('L'), block,
                                          ParseHexLong(m.captured(2).toUpper()));
    }
    return file;
}

LogoFile readLogoFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        LogoFile file;
        file.error = QStringLiteral("Cannot read %1: %2").arg(path, f.errorString());
        return file;
    }
    return logoFramesFromLines(splitTextLines(f.readAll()));
}

bool sendLogoFrames(Link& link, const QStringList& frames) {
    if (frames.isEmpty())
        return false;
    return link.startBatch(frames) != 0;
}

QStringList logoFileLines(const DeviceState& state) {
    QStringList lines;
    for (int b = 0; b < kLogoWords; ++b)
        lines << BuildLWrite(state, b);
    return lines;
}

Status writeLogoFile(const QString& path, const DeviceState& state) {
    QByteArray data;
    for (const QString& line : logoFileLines(state))
        data += line.toLatin1() + "\r\n";
    return writeFileAtomically(path, data);
}

} // namespace gp
