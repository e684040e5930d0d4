// glimmerpane-sim: a simulated room unit on a pseudo-terminal. Prints the
// terminal's path on one line and serves until SIGINT or SIGTERM; SIGUSR1
// power-cycles the unit.

#include "platform/atomic_file.h"
#include "sim/boot_monitor.h"
#include "sim/pty_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using gp::sim::PtySimServer;
using gp::sim::SimChip;
using gp::sim::SimProfile;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const char c = sig == SIGUSR1 ? 2 : 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

bool parseInt(const QString& text, qint64& out) {
    bool ok = false;
    out = text.toLongLong(&ok, 0); // decimal, or hex with 0x
    return ok;
}

// "Q-48225": the serial number's letter and number.
bool parseSerial(const QString& text, int32_t& out) {
    if (text == QLatin1String("0")) {
        out = 0;
        return true;
    }
    const QStringList parts = text.split('-');
    bool ok = false;
    const uint number = parts.value(1).toUInt(&ok);
    if (parts.size() != 2 || parts[0].size() != 1 || !ok || number > 0xFFFFFF)
        return false;
    out = static_cast<int32_t>((static_cast<uint32_t>(parts[0][0].toLatin1()) << 24) | number);
    return true;
}

// "14/03/24": the three date code bytes.
bool parseDate(const QString& text, std::array<uint8_t, 3>& out) {
    const QStringList parts = text.split('/');
    if (parts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok);
        if (!ok || v > 255)
            return false;
        out[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
    }
    return true;
}

int usageError(const QString& message) {
    QTextStream(stderr) << "glimmerpane-sim: " << message << "\n";
    return 2;
}

struct SimOptions {
    QCommandLineOption link{QStringLiteral("link"),
                            QStringLiteral("Also make a symbolic link PATH to the terminal."),
                            QStringLiteral("PATH")};
    QCommandLineOption chip{QStringLiteral("chip"),
                            QStringLiteral("Processor: sam3n2b (default) or sam4s2b."),
                            QStringLiteral("CHIP")};
    QCommandLineOption fault{QStringLiteral("fault"),
                             QStringLiteral("Arm a wire fault (repeatable)."),
                             QStringLiteral("NAME")};
    QCommandLineOption features{QStringLiteral("features"),
                                QStringLiteral("Feature bits 0..27 of register 01."),
                                QStringLiteral("BITS")};
    QCommandLineOption appId{QStringLiteral("app-id"),
                             QStringLiteral("Application id 0..15 (bits 28..31)."),
                             QStringLiteral("N")};
    QCommandLineOption layout{QStringLiteral("layout"),
                              QStringLiteral("Layout code 0..255 (top byte of register 00)."),
                              QStringLiteral("N")};
    QCommandLineOption vendorId{QStringLiteral("vendor-id"),
                                QStringLiteral("Vendor id (register 04)."), QStringLiteral("N")};
    QCommandLineOption vendorName{QStringLiteral("vendor-name"),
                                  QStringLiteral("Vendor name, at most 31 characters."),
                                  QStringLiteral("TEXT")};
    QCommandLineOption productName{QStringLiteral("product-name"),
                                   QStringLiteral("Product name, at most 11 characters."),
                                   QStringLiteral("TEXT")};
    QCommandLineOption uid{QStringLiteral("uid"),
                           QStringLiteral("Unique id as four 8-digit hex words joined by \"-\"."),
                           QStringLiteral("UID")};
    QCommandLineOption serial{QStringLiteral("serial"),
                              QStringLiteral("Serial number as LETTER-NUMBER (Q-48225), or 0 "
                                             "for none."),
                              QStringLiteral("SN")};
    QCommandLineOption date{QStringLiteral("date-code"),
                            QStringLiteral("Date code as D0/D1/D2 (14/03/24)."),
                            QStringLiteral("DATE")};
    QCommandLineOption comms{QStringLiteral("comms"),
                             QStringLiteral("Comms register 21 (0x00000001: address 1, 9600, "
                                            "no parity, 1 stop bit)."),
                             QStringLiteral("VALUE")};
    QCommandLineOption firmware{QStringLiteral("firmware"),
                                QStringLiteral("Firmware version x 100 (221)."),
                                QStringLiteral("N")};
    QCommandLineOption turnaround{QStringLiteral("turnaround"),
                                  QStringLiteral("Pause before each reply (2 ms)."),
                                  QStringLiteral("MS")};
    QCommandLineOption latency{
        QStringLiteral("latency"),
        QStringLiteral("Hand the reply's characters on in lumps every MS, as a USB serial "
                       "adapter's latency timer does (0: each as it arrives, as a plain UART)."),
        QStringLiteral("MS")};
    QCommandLineOption resetSilence{
        QStringLiteral("reset-silence"),
        QStringLiteral("How long the unit ignores the line after a reset (1500 ms)."),
        QStringLiteral("MS")};
    QCommandLineOption resetCause{
        QStringLiteral("reset-cause"),
        QStringLiteral("Reset cause code in the status word at start (0..255, 0)."),
        QStringLiteral("N")};
    QCommandLineOption stuck{
        QStringLiteral("stuck-register"),
        QStringLiteral("Echo writes to register N (hex) but keep its value (may be repeated)."),
        QStringLiteral("N")};
    QCommandLineOption noAck{QStringLiteral("no-action-replies"),
                             QStringLiteral("Leave system actions such as :SP# unanswered.")};
    QCommandLineOption writeImage{
        QStringLiteral("write-image"),
        QStringLiteral("Write a sample firmware image to FILE and exit (see --image-version)."),
        QStringLiteral("FILE")};
    QCommandLineOption imageVersion{
        QStringLiteral("image-version"),
        QStringLiteral("Firmware version x 100 that the sample image carries (300)."),
        QStringLiteral("N")};
    QCommandLineOption bootFault{
        QStringLiteral("boot-fault"),
        QStringLiteral("Arm a boot monitor failure (repeatable): silent-version, region-locked, "
                       "lock-error, command-error, refuse-blocks, unknown-chip, corrupt-flash."),
        QStringLiteral("NAME")};
    QCommandLineOption autoPowerCycle{
        QStringLiteral("auto-power-cycle"),
        QStringLiteral("After flashing with boot-from-flash set, the first byte after MS of quiet "
                       "finds the unit power-cycled (for tests; default: only SIGUSR1 "
                       "power-cycles)."),
        QStringLiteral("MS")};
    QCommandLineOption bootWaits{
        QStringLiteral("boot-waits-for-power-cycle"),
        QStringLiteral("The boot monitor answers only after a power cycle (as on SAM3N2B units).")};
    QCommandLineOption fastMonitor{
        QStringLiteral("fast-boot-monitor"),
        QStringLiteral("The boot monitor answers at once instead of at 115200 baud (for tests of "
                       "the flashing tool's runs).")};
};

// The boot monitor failures asked for; an empty text, or the usage error.
QString readBootFaults(const QCommandLineParser& parser, const SimOptions& o,
                       gp::sim::BootMonitorFaults& bootFaults) {
    for (const QString& f : parser.values(o.bootFault)) {
        if (f == QLatin1String("silent-version"))
            bootFaults.silentVersion = true;
        else if (f == QLatin1String("region-locked"))
            bootFaults.regionLocked = true;
        else if (f == QLatin1String("lock-error"))
            bootFaults.lockError = true;
        else if (f == QLatin1String("command-error"))
            bootFaults.commandError = true;
        else if (f == QLatin1String("refuse-blocks"))
            bootFaults.refuseBlocks = true;
        else if (f == QLatin1String("unknown-chip"))
            bootFaults.unknownChip = true;
        else if (f == QLatin1String("corrupt-flash"))
            bootFaults.corruptAfterWrite = true;
        else
            return QStringLiteral("unknown boot monitor failure '%1'").arg(f);
    }

    return QString();
}

// The unit's profile from the options; an empty text, or the usage error.
QString readProfile(const QCommandLineParser& parser, const SimOptions& o, SimProfile& profile) {
    qint64 n = 0;
    const auto intOption = [&](const QCommandLineOption& o, qint64 lo, qint64 hi,
                               auto&& store) -> bool {
        if (!parser.isSet(o))
            return true;
        if (!parseInt(parser.value(o), n) || n < lo || n > hi)
            return false;
        store(n);
        return true;
    };
    if (parser.isSet(o.chip)) {
        const QString c = parser.value(o.chip).toLower();
        if (c == QLatin1String("sam3n2b"))
            profile.chip = SimChip::SAM3N2B;
        else if (c == QLatin1String("sam4s2b"))
            profile.chip = SimChip::SAM4S2B;
        else
            return QStringLiteral("--chip is sam3n2b or sam4s2b");
    }
    if (!intOption(o.features, 0, 0x0FFFFFFF,
                   [&](qint64 v) { profile.featureFlags = uint32_t(v); }))
        return QStringLiteral("--features takes bits 0..27 (0..0x0FFFFFFF)");
    if (!intOption(o.appId, 0, 15, [&](qint64 v) { profile.appId = int(v); }))
        return QStringLiteral("--app-id takes 0..15");
    if (!intOption(o.layout, 0, 255, [&](qint64 v) { profile.layoutCode = int(v); }))
        return QStringLiteral("--layout takes 0..255");
    if (!intOption(o.vendorId, 0, 0xFFFF, [&](qint64 v) { profile.vendorId = int(v); }))
        return QStringLiteral("--vendor-id takes 0..65535");
    if (!intOption(o.comms, 0, 0xFFFFFFFFLL,
                   [&](qint64 v) { profile.comms = int32_t(uint32_t(v)); }))
        return QStringLiteral("--comms takes a 32-bit value");
    if (!intOption(o.firmware, 0, 32767, [&](qint64 v) { profile.firmwareVersion = int(v); }))
        return QStringLiteral("--firmware takes 0..32767");
    if (parser.isSet(o.vendorName))
        profile.vendorName = parser.value(o.vendorName).toLatin1();
    if (parser.isSet(o.productName))
        profile.productName = parser.value(o.productName).toLatin1();
    for (const QString& text : parser.values(o.stuck)) {
        bool ok = false;
        const int r = text.toInt(&ok, 16);
        if (!ok || r < 1 || r > 255)
            return QStringLiteral("--stuck-register takes a register 01..FF in hex");
        profile.stuckRegisters << r;
    }
    if (parser.isSet(o.uid)) {
        const QStringList words = parser.value(o.uid).split(u'-');
        bool ok = words.size() == 4;
        for (int i = 0; ok && i < 4; ++i) {
            profile.uniqueId[size_t(i)] = words[i].toUInt(&ok, 16);
            ok = ok && words[i].size() == 8;
        }
        if (!ok)
            return QStringLiteral("--uid is four 8-digit hex words, e.g. "
                                  "51525531-0A1B2C3D-00420017-9F3E61C4");
    }
    if (parser.isSet(o.serial) && !parseSerial(parser.value(o.serial), profile.serialNumber))
        return QStringLiteral("--serial is LETTER-NUMBER, e.g. Q-48225, or 0");
    if (parser.isSet(o.date) && !parseDate(parser.value(o.date), profile.dateCode))
        return QStringLiteral("--date-code is D0/D1/D2, e.g. 14/03/24");
    if (!intOption(o.resetCause, 0, 255, [&](qint64 v) { profile.initialResetCause = int(v); }))
        return QStringLiteral("--reset-cause takes 0..255");
    if (parser.isSet(o.resetSilence)) {
        bool ok = false;
        profile.resetSilenceMs = parser.value(o.resetSilence).toDouble(&ok);
        if (!ok || profile.resetSilenceMs < 0)
            return QStringLiteral("--reset-silence takes milliseconds");
    }
    profile.acknowledgeActions = !parser.isSet(o.noAck);

    return QString();
}

// The server's line, boot monitor and wire faults from the options; an
// empty text, or the usage error.
QString setUpServer(const QCommandLineParser& parser, const SimOptions& o,
                    const SimProfile& profile, const gp::sim::BootMonitorFaults& bootFaults,
                    PtySimServer& server) {
    if (parser.isSet(o.turnaround)) {
        bool ok = false;
        const double ms = parser.value(o.turnaround).toDouble(&ok);
        if (!ok || ms < 0)
            return QStringLiteral("--turnaround takes milliseconds");
        server.setTurnaroundMs(ms);
    }
    if (parser.isSet(o.latency)) {
        bool ok = false;
        const int ms = parser.value(o.latency).toInt(&ok);
        if (!ok || ms < 0 || ms > 1000)
            return QStringLiteral("--latency takes milliseconds, 0..1000");
        server.setLatencyMs(ms);
    }
    auto monitor = std::make_unique<gp::sim::SambaMonitor>(server.unit(), profile.chip, bootFaults);
    if (parser.isSet(o.autoPowerCycle)) {
        bool ok = false;
        const double ms = parser.value(o.autoPowerCycle).toDouble(&ok);
        if (!ok || ms <= 0)
            return QStringLiteral("--auto-power-cycle takes milliseconds above 0");
        monitor->setAutoPowerCycle(ms);
    }
    monitor->setWaitForPowerCycle(parser.isSet(o.bootWaits));
    server.setBootMonitorUnpaced(parser.isSet(o.fastMonitor));
    server.unit().setBootMonitor(std::move(monitor));
    for (const QString& f : parser.values(o.fault)) {
        QString why;
        if (!server.arm(f, &why))
            return why;
    }

    return QString();
}

} // namespace

int main(int argc, char** argv) {
    gp::ignoreFileSizeLimitSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimmerpane-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GP_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated Quorvel room unit on a pseudo-terminal. Prints the terminal's path on "
        "stdout and serves until interrupted (SIGINT or SIGTERM); SIGUSR1 power-cycles the unit."
        "\n\nFault names: drop, "
        "delay=MS, split[=K], corrupt[=K], garbage[=TEXT], vanish, silent; each may end in "
        "@N (the reply to the N-th frame) or @every (every reply). Without it a fault applies "
        "to the next reply."));
    parser.addHelpOption();
    parser.addVersionOption();
    const SimOptions o;
    parser.addOptions({o.link,       o.chip,         o.fault,      o.features,       o.appId,
                       o.layout,     o.vendorId,     o.vendorName, o.productName,    o.uid,
                       o.serial,     o.date,         o.comms,      o.firmware,       o.turnaround,
                       o.latency,    o.resetSilence, o.resetCause, o.stuck,          o.noAck,
                       o.writeImage, o.imageVersion, o.bootFault,  o.autoPowerCycle, o.bootWaits,
                       o.fastMonitor});
    // Bad usage exits 2, as the manual page says (Qt's own processing
    // would exit 1).
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    if (parser.isSet(o.writeImage)) {
        bool ok = true;
        const int version =
            parser.isSet(o.imageVersion) ? parser.value(o.imageVersion).toInt(&ok) : 300;
        if (!ok || version < 0 || version > 99999)
            return usageError(QStringLiteral("--image-version takes 0..99999"));
        const gp::Status written = gp::writeFileAtomically(parser.value(o.writeImage),
                                                           gp::sim::sampleFirmwareImage(version));
        if (!written) {
            QTextStream(stderr) << "glimmerpane-sim: " << written.error() << "\n";
            return 1;
        }
        return 0;
    }

    gp::sim::BootMonitorFaults bootFaults;
    QString problem = readBootFaults(parser, o, bootFaults);
    SimProfile profile;
    if (problem.isEmpty())
        problem = readProfile(parser, o, profile);
    PtySimServer server(profile);
    if (problem.isEmpty())
        problem = setUpServer(parser, o, profile, bootFaults, server);
    if (!problem.isEmpty())
        return usageError(problem);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return usageError(QStringLiteral("cannot set up signal handling"));
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&]() {
        char c = 0;
        [[maybe_unused]] const auto r = ::read(signalPipe[0], &c, 1);
        if (c == 2)
            server.powerCycle();
        else
            QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);

    if (!server.start(parser.value(o.link))) {
        QTextStream(stderr) << "glimmerpane-sim: " << server.errorString() << "\n";
        return 1;
    }
    std::fputs(qPrintable(server.slavePath() + QLatin1Char('\n')), stdout);
    std::fflush(stdout);

    const int rc = QCoreApplication::exec();
    server.stop(); // removes the link
    return rc;
}
