#pragma once
// The one way a file of ours is written: the new contents go to a temporary
// file beside the old one, are flushed, synced and measured on disk, and only
// then renamed over the old file. A full disk, a size limit or a failing
// device therefore leaves the old file exactly as it was, and the caller is
// told; no reader ever sees half a file.

#include "platform/result.h"

#include <QByteArray>
#include <QString>

namespace gp {

// Faults to put in the way of a write, for tests of what a failing disk does
// to the callers. The default faults nothing.
struct AtomicWriteFaults {
    qint64 diskFullAfter = -1; // writes beyond this many bytes fail as on a full disk
    bool syncFails = false;    // the sync to the device fails
    bool renameFails = false;  // the final rename fails
};

// Replaces path with bytes. A symbolic link is followed, so the file it
// points at is replaced and the link stays. The new file keeps the old one's
// permission bits; a new file gets the usual ones (0666 less the umask).
// Fails with why nothing was replaced ("Cannot write PATH: No space left on
// device").
Status writeFileAtomically(const QString& path, const QByteArray& bytes,
                           const AtomicWriteFaults* faults = nullptr);

// A write past the process's file-size limit (ulimit -f) kills it with
// SIGXFSZ, leaving no message; ignored, the write fails with "File too
// large" and says so like any other. Each program calls this at its start.
void ignoreFileSizeLimitSignal();

// Whether a file can be written at path at all (its folder exists and takes
// new files, and the name is not a folder), checked before any work whose
// result would be written there. Fails with why not, in the same words as
// writeFileAtomically.
Status checkWritableTarget(const QString& path);

} // namespace gp
