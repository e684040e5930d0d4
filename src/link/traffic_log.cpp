#include "link/traffic_log.h"

namespace gp {

void TrafficLog::AddLog(const QString& line) {
    if (logComs_ && file_) {
        file_->write(line.toUtf8() + "\r\n");
        file_->flush();
    }
    lines_.append(line);
    if (lines_.size() > kScreenLines)
        lines_.remove(0, lines_.size() - kScreenLines);
    if (mirror_)
        mirror_(line);
    if (onLine_)
        onLine_(line);
}

Status TrafficLog::openFile(const QString& path, bool withHeader) {
    closeFile();
    auto f = std::make_unique<QFile>(path);
    if (!f->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("Cannot create log file %1: %2").arg(path, f->errorString()));
    if (withHeader)
        f->write(QByteArray(kLogFileHeader) + "\r\n");
    f->flush();
    file_ = std::move(f);
    return Status();
}

void TrafficLog::closeFile() {
    if (file_)
        file_->close();
    file_.reset();
    logComs_ = false;
}

QString TrafficLog::filePath() const {
    return file_ ? file_->fileName() : QString();
}

} // namespace gp
