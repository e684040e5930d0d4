#pragma once
// Command lines of the flashing tool `bossac` and reading its output.
//
// The tool takes its port as "-p" with the port's name or path attached.
// "--usb-port=0" is always given, attached (a separate word is refused): the
// tool treats any name containing "ttyUSB" or "ttyACM" as a native USB boot
// loader and tries it at 921600 baud first, while the unit's boot monitor
// answers on its UART, behind such an adapter, at 115200.

#include <QString>
#include <QStringList>
#include <optional>

namespace gp::flash {

inline constexpr char kBossacProgram[] = "bossac";
inline constexpr char kBossacPackage[] = "bossa-cli";
// The firmware images offered when one is chosen.
inline constexpr char kFirmwareFilter[] = "Sensor Firmware{*.bin)|*.bin";
// The line of the unit's boot monitor.
inline constexpr char kMonitorSettings[] = "115200,n,8,1";

// Erase, unlock, write, boot from flash, verify. A relative image name that
// begins with "-" is given as "./NAME", so the tool cannot take it for an
// option.
QStringList guidedUpdateArguments(const QString& port, const QString& firmwarePath);

// The write options of the low-level flash window.
struct WriteOptions {
    bool erase = true;
    bool verify = true;
    bool bootFromFlash = true;
    bool brownoutDetect = false;
    bool brownoutReset = false;
    bool lock = false;
    bool security = false;
};

// The editable command line: "bossac -w -e -u -b -v --usb-port=0 -pPORT "FILE"".
// The path is in double quotes, with '"', '\', '$' and '`' escaped, and the
// port word is quoted the same way when it holds anything but letters,
// digits and path marks, so that splitCommandLine gives back exactly the
// words meant. The image name is given as for guidedUpdateArguments.
QString buildCommandLine(const WriteOptions& options, const QString& port,
                         const QString& firmwarePath);

// Splits a command line into words the way a shell splits quoted words
// (blanks separate; '...' is literal; "..." keeps blanks and takes '\' before
// '"', '\', '$' and '`'; '\' outside quotes escapes the next character). No
// expansion of any kind happens. Empty when a quote is not closed.
std::optional<QStringList> splitCommandLine(const QString& text);

// The progress the tool redraws after a carriage return:
// "[====      ] 45% (11/24 pages)" gives 0.45 (pages done / pages).
std::optional<double> progressOf(const QString& line);

// What the engineer reads when a program could not be started; for the
// flashing tool it names the package that provides it.
QString notStartedMessage(const QString& reason,
                          const QString& program = QLatin1String(kBossacProgram));
// What the engineer reads after a stopped or failed run.
QString powerCycleHint();
// What the engineer reads on ticking "Lock": the tool erases before it
// unlocks, so a locked region makes every later erase fail.
QString lockWarning();

} // namespace gp::flash
