#pragma once
// The unit's logo: 128 words in blocks 00..7F, read with ":Lnn#" and written
// with ":Lnn" + value. A logo definition file (".lgo") holds one write frame
// per line, sent in order as one batch.

#include "platform/result.h"

#include <QString>
#include <QStringList>

namespace gp {

class Link;
struct DeviceState;

constexpr int kLogoWords = 128;

// Reads blocks 00..7F into LRegCache. Answers the batch id.
int ReadLogo(Link& link);
// Writes blocks 00..7F from LRegCache. Answers the batch id.
int WriteLogo(Link& link);

struct LogoFile {
    QStringList frames; // what "load logo" sends, in order
    QString error;      // why the file is refused; nothing is sent then
    bool ok() const { return error.isEmpty(); }
};

// The frames of a logo definition file's text: lines up to the 128th, ending
// at an empty line (a leading empty line is skipped). Each line must be a
// logo frame of the unit's grammar; a file with any other line is refused.
LogoFile logoFramesFromLines(const QStringList& lines);
LogoFile readLogoFile(const QString& path);
// Starts the "load logo" batch; answers false (nothing sent) when there is
// nothing to send.
bool sendLogoFrames(Link& link, const QStringList& frames);

// The cached logo as a definition file: 128 write frames.
QStringList logoFileLines(const DeviceState& state);
// Writes them with CR LF, atomically; fails with the error.
Status writeLogoFile(const QString& path, const DeviceState& state);

} // namespace gp
