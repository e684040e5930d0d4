#pragma once
// "glimmerpane-cli doctor": checks what keeps a Linux machine from talking to
// a unit over a USB serial adapter or from flashing it, and says what to do
// about each finding. The facts are gathered from the machine in one place
// (gatherDoctorFacts); judging them is a plain function of the facts, so it
// can be tried with any machine's facts.

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace gp::cli {

// One serial device the tool would offer (or the one given with --port).
struct DoctorPort {
    QString name;         // as listed: ttyUSB0, or a path
    QString path;         // the device node: /dev/ttyUSB0
    bool exists = false;  // the node is there
    bool canOpen = false; // this process may read and write it
    QString owner;        // the node's owner and group by name
    QString group;
    QString mode; // "crw-rw----"
};

struct DoctorFacts {
    QString user;
    bool root = false;
    QStringList sessionGroups; // the groups this process runs with
    QStringList accountGroups; // the groups the account database gives the user now
    QList<DoctorPort> ports;
    bool modemManagerRunning = false;
    bool brlttyRunning = false;
    bool brlttyInstalled = false;
    QString bossacPath;    // empty: not found on PATH
    QString bossacVersion; // empty: its version could not be told
};

enum class CheckStatus { Ok, Warning, Failed };

struct DoctorCheck {
    QString name; // "serial group", "port ttyUSB0", "ModemManager", ...
    CheckStatus status = CheckStatus::Ok;
    QString finding; // what was found
    QString remedy;  // what to do; empty when nothing needs doing
};

// The group a serial device belongs to on Debian and most distributions.
inline constexpr char kSerialGroup[] = "dialout";

// Judges the facts, one check per concern, each port on its own.
QList<DoctorCheck> diagnose(const DoctorFacts& facts);

// "1.9.1" from the flashing tool's help text ("... (BOSSA) Version 1.9.1").
std::optional<QString> bossacVersionFrom(const QString& helpText);

// "ok", "warning", "failed".
QString statusWord(CheckStatus status);

// "crw-rw----" for a stat() mode.
QString modeText(unsigned mode);

// The facts of the machine this runs on, for the given port names (what
// the port list offers, plus any --port).
DoctorFacts gatherDoctorFacts(const QStringList& portNames);

} // namespace gp::cli
