#pragma once
// The traffic log: every frame sent as "[Tx] " + frame, every reply as
// "[Rx] " + reply. Lines go to the screen (a bounded tail) and, while
// "LogComs" is ticked, to the open log file with CR LF line ends.

#include "platform/result.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace gp {

class TrafficLog {
  public:
    // The screen keeps at most this many lines; older ones drop off.
    static constexpr int kScreenLines = 3000;
    // The header line a log started with "Log to file" carries.
    static constexpr const char* kLogFileHeader = "timestamp CO2 Temp Hum Lux RI1 RI2 SP DIs";

    void AddLog(const QString& line);

    // Opens (creates or truncates) the one log file; a header is written when
    // asked. Any file already open is closed first. Fails with the reason
    // when the file cannot be created.
    Status openFile(const QString& path, bool withHeader);
    void closeFile();
    bool fileOpen() const { return file_ != nullptr; }
    QString filePath() const;

    // While true, every logged line is also written to the open file.
    void setLogComs(bool on) { logComs_ = on; }
    bool logComs() const { return logComs_; }

    // Newest lines, oldest first.
    const QStringList& lines() const { return lines_; }
    // Called for every line added, so a view can append it.
    void setOnLine(std::function<void(const QString&)> f) { onLine_ = std::move(f); }
    // An extra copy of every line (the command-line front end's --log file).
    void setMirror(std::function<void(const QString&)> f) { mirror_ = std::move(f); }

  private:
    QStringList lines_;
    std::unique_ptr<QFile> file_;
    bool logComs_ = false;
    std::function<void(const QString&)> onLine_;
    std::function<void(const QString&)> mirror_;
};

} // namespace gp
