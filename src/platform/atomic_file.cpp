#include "platform/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gp {

namespace {

QString failure(const QString& path, int error) {
    return QStringLiteral("Cannot write %1: %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// The file a write really replaces: a symbolic link stays and its target is
// written, as an editor would.
QString resolvedTarget(const QString& path) {
    const QFileInfo fi(path);
    if (fi.isSymLink())
        return fi.symLinkTarget();
    return fi.absoluteFilePath();
}

// Creates an empty, new temporary file in folder; answers its descriptor or
// -1 with errno set. The file is locked while it is being written, so that
// the next writer of the same target can tell a live one from one left by a
// writer that was killed.
int createTemporary(const QString& folder, const QString& name, QString& tempPath) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = QDir(folder).filePath(
            QStringLiteral(".%1.%2.tmp")
                .arg(name)
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        const int fd = ::open(QFile::encodeName(tempPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            (void)::flock(fd, LOCK_EX | LOCK_NB);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Temporary files of this target that a killed writer left behind (by a
// file-size limit, a kill just before the rename): no writer holds their
// lock any more. A live writer's file keeps its lock and is left alone.
void removeStaleTemporaries(const QString& folder, const QString& name) {
    static const QRegularExpression ours(QStringLiteral("^\\.(.*)\\.[0-9a-f]{8}\\.tmp$"));
    const QStringList candidates =
        QDir(folder).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
    for (const QString& file : candidates) {
        const QRegularExpressionMatch m = ours.match(file);
        if (!m.hasMatch() || m.captured(1) != name)
            continue;
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(file));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.constData());
        ::close(fd);
    }
}

// Why the target itself cannot be written (0: it can): a folder in its
// place, a missing folder, an existing file we may not write.
int targetProblem(const QString& target) {
    const QFileInfo fi(target);
    if (fi.isDir())
        return EISDIR;
    if (!QFileInfo(fi.absolutePath()).isDir())
        return ENOENT;
    if (fi.exists() && ::access(QFile::encodeName(target).constData(), W_OK) != 0)
        return errno;
    return 0;
}

QString targetFailure(const QString& path, const QString& target, int problem) {
    if (problem == ENOENT)
        return QStringLiteral("Cannot write %1: the folder %2 does not exist")
            .arg(path, QDir::toNativeSeparators(QFileInfo(target).absolutePath()));
    return failure(path, problem);
}

bool writeAll(int fd, const QByteArray& bytes, const AtomicWriteFaults* faults) {
    qint64 done = 0;
    while (done < bytes.size()) {
        qint64 chunk = bytes.size() - done;
        if (faults && faults->diskFullAfter >= 0) {
            chunk = qMin(chunk, faults->diskFullAfter - done);
            if (chunk <= 0) {
                errno = ENOSPC;
                return false;
            }
        }
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(chunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) { // no progress: the device takes nothing more
            errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

QString writableTargetProblem(const QString& path) {
    const QString target = resolvedTarget(path);
    if (const int problem = targetProblem(target))
        return targetFailure(path, target, problem);
    // The folder must take a new file: the replacement is made beside the
    // old one. Trying is the only sure test (read-only mounts, full inode
    // tables, access rules the mode bits do not show).
    QString probe;
    const int fd =
        createTemporary(QFileInfo(target).absolutePath(), QFileInfo(target).fileName(), probe);
    if (fd < 0)
        return failure(path, errno);
    ::close(fd);
    ::unlink(QFile::encodeName(probe).constData());
    return QString();
}

QString writeAtomically(const QString& path, const QByteArray& bytes,
                        const AtomicWriteFaults* faults) {
    const QString target = resolvedTarget(path);
    if (const int problem = targetProblem(target))
        return targetFailure(path, target, problem);
    const QFileInfo targetInfo(target);
    const QString folder = targetInfo.absolutePath();

    removeStaleTemporaries(folder, targetInfo.fileName());
    QString tempPath;
    const int fd = createTemporary(folder, targetInfo.fileName(), tempPath);
    if (fd < 0)
        return failure(path, errno);
    const QByteArray tempName = QFile::encodeName(tempPath);
    auto fail = [&](int error) {
        ::unlink(tempName.constData());
        return failure(path, error);
    };

    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);

    if (!writeAll(fd, bytes, faults)) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    // Written is not yet on disk: a delayed allocation can still fail here,
    // and the rename must not come before the data.
    if ((faults && faults->syncFails) || ::fsync(fd) != 0) {
        const int error = faults && faults->syncFails ? EIO : errno;
        ::close(fd);
        return fail(error);
    }
    struct stat written {};
    if (::fstat(fd, &written) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (written.st_size != bytes.size()) {
        ::close(fd);
        ::unlink(tempName.constData());
        return QStringLiteral("Cannot write %1: only %2 of %3 bytes reached the disk")
            .arg(path)
            .arg(written.st_size)
            .arg(bytes.size());
    }
    if (::close(fd) != 0)
        return fail(errno);
    if (faults && faults->renameFails)
        return fail(EIO);
    if (::rename(tempName.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(errno);
    // The rename itself lives in the folder; sync it so the new name is as
    // durable as the data. The new file is in place either way.
    const int dirFd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return QString();
}

Status failedIf(const QString& problem) {
    return problem.isEmpty() ? Status() : Status(fail(problem));
}

} // namespace

Status checkWritableTarget(const QString& path) {
    return failedIf(writableTargetProblem(path));
}

Status writeFileAtomically(const QString& path, const QByteArray& bytes,
                           const AtomicWriteFaults* faults) {
    return failedIf(writeAtomically(path, bytes, faults));
}

void ignoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace gp
