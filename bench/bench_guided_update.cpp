// The guided firmware update of the simulated unit, in virtual time: the
// unit and its boot monitor behind a wire of 9600 baud with a 2 ms
// turnaround, and a stand-in flashing tool that takes 12 s. Prints where the
// time goes, paced by the tick and with the fast link, and how close each
// comes to what cannot be avoided: the wire time of the transfers, the
// tool's time and the waits that nothing but the clock ends.
#include "app/app_context.h"
#include "flash/firmware_update.h"
#include "link/codec.h"
#include "platform/process_runner.h"
#include "sim/boot_monitor.h"
#include "sim/sim_port.h"
#include "sim/sim_unit.h"
#include "sim/virtual_wire.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>

namespace {

using namespace gp;

constexpr double kToolMs = 12000.0;
constexpr double kTurnaroundMs = 2.0;
// The pauses that stay with the fast link: after the logo write was started
// and after ":SP#", six seconds each.
constexpr double kPauseMs = 6000.0;

// Stands in for bossac: its look at its version ends at once; a flashing run
// ends kToolMs of virtual time after its start, having written the image
// with boot-from-flash set, and the engineer power-cycles the unit.
class VirtualTool : public ProcessRunner {
  public:
    VirtualTool(sim::SimPort& port, QByteArray image) : port_(port), image_(std::move(image)) {}
    void start(const QString&, const QStringList& arguments) override {
        running_ = true;
        help_ = arguments == QStringList{QStringLiteral("--help")};
        endsAt_ = port_.nowMs() + (help_ ? 0.0 : kToolMs);
    }
    bool running() const override { return running_; }
    void kill() override {
        if (!running_)
            return;
        running_ = false;
        if (onFinished)
            onFinished(-1);
    }
    // Called once per poll period.
    void step() {
        if (!running_ || port_.nowMs() < endsAt_)
            return;
        running_ = false;
        if (help_) {
            if (onLine)
                onLine(
                    QStringLiteral("Basic Open Source SAM-BA Application (BOSSA) Version 1.9.1"));
            if (onFinished)
                onFinished(1);
            return;
        }
        if (onLine)
            onLine(QStringLiteral("[==============================] 100% (8/8 pages)"));
        auto& monitor = dynamic_cast<sim::SambaMonitor&>(port_.unit().bootMonitor());
        monitor.program(image_, true);
        port_.unit().powerCycle(port_.nowMs());
        if (onFinished)
            onFinished(0);
    }

  private:
    sim::SimPort& port_;
    QByteArray image_;
    bool running_ = false;
    bool help_ = false;
    double endsAt_ = 0;
};

// The engineer: the image file, and no to every question (none comes on a
// run that goes well).
class BenchPrompts : public Prompts {
  public:
    explicit BenchPrompts(QString file) : file_(std::move(file)) {}
    bool askYesNo(const QString&, const QString&, bool, bool) override { return false; }
    void message(const QString&, const QString& text, MessageKind) override { said << text; }
    QString openFile(const QString&, const QString&) override { return file_; }
    QString saveFile(const QString&, const QString&) override { return {}; }
    QStringList said;

  private:
    QString file_;
};

enum Phase { Read, Flash, Writeback, Verify, Wait, Other, PhaseCount };

// Where a poll period spent in this state goes. busy: a batch ran.
Phase phaseOf(FirmwareUpdate::State state, bool busy) {
    using S = FirmwareUpdate::State;
    switch (state) {
    case S::Start:
    case S::ReadingUniqueId:
    case S::ReadingRegisters:
    case S::ReadingLogo:
        return Read;
    case S::Flashing:
        return Flash;
    case S::WaitingForFirmware:     // the new firmware starting
    case S::PausingBeforeWriteBack: // the pause before the settings go back
    case S::WaitingForReset:        // the unit's reset
        return Wait;
    case S::WritingRegisters:
        return Writeback;
    case S::PausingAfterLogo: // the logo write runs inside this pause
    case S::PausingAfterBurn: // ":SP#" goes out at its start
        return busy ? Writeback : Wait;
    case S::Burning:
    case S::Resetting:
        return busy ? Writeback : Other;
    case S::CheckingRegister01:
        return Verify;
    default:
        return Other;
    }
}

// The wire time of one exchange: the frame out, the reply back, 10 bits a
// byte, and the unit's turnaround when it answers.
double exchangeMs(const QString& frame, double byteMs) {
    int reply = 13; // "!" letter, item, eight digits, "#"
    if (frame == QLatin1String(":SR#") || frame == QLatin1String(":SAMBA#"))
        reply = 0; // gone before it could answer
    else if (frame.startsWith(QLatin1String(":S")))
        reply = 11; // the status reply
    return (frame.size() + reply) * byteMs + (reply > 0 ? kTurnaroundMs : 0.0);
}

struct Figures {
    double totalMs = 0;
    double phaseMs[PhaseCount] = {};
    double wireMs[PhaseCount] = {};
    double wireTotalMs = 0;
    double keptWaitMs = 0;
    bool ok = false;
};

Figures run(bool fast) {
    Figures f;
    QTemporaryDir dir;
    const QByteArray image = sim::sampleFirmwareImage(307, 6000);
    const QString imagePath = dir.filePath(QStringLiteral("fw.bin"));
    {
        QFile out(imagePath);
        if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size())
            return f;
    }

    Link link;
    auto unit = std::make_shared<sim::SimUnit>(sim::SimProfile{});
    // Settings and a logo of this unit's own, so that defaults cannot pass.
    for (int r = 0x22; r < 0x40; ++r)
        unit->setReg(r, 0x01020304 * r);
    for (int w = 0; w < 128; w += 5)
        unit->setLogo(w, 0x5A000000 | w);
    auto p = std::make_unique<sim::SimPort>(unit);
    sim::SimPort* port = p.get();
    port->setTurnaroundMs(kTurnaroundMs);
    link.serial.setPort(std::move(p));
    link.serial.choosePort(QStringLiteral("/dev/ttySIM0"));
    if (fast)
        link.setFast(true);

    Persist persist(dir.filePath(QStringLiteral("bench.ini")));
    LangDll lang;
    BenchPrompts prompts(imagePath);
    ViewTabs tabs(link);
    AppContext ctx{link, persist, lang, prompts, tabs, OperatingMode{}, -1};
    VirtualTool tool(*port, image);
    FirmwareUpdate update(ctx, tool);
    update.backupFolder = dir.filePath(QStringLiteral("backups"));

    sim::VirtualWire wire(*port, link);
    auto period = [&] { wire.period(); };

    const double start = port->nowMs();
    double nextTick = start;
    update.clickButton();
    while (!update.finished() && port->nowMs() - start < 600000) {
        const Phase phase = phaseOf(update.state(), link.busy());
        const double before = port->nowMs();
        period();
        link.tick();
        tool.step();
        f.phaseMs[phase] += port->nowMs() - before;
        if (port->nowMs() >= nextTick - 1e-6) {
            update.tick();
            nextTick = port->nowMs() + update.intervalMs();
        }
    }
    f.totalMs = port->nowMs() - start;
    f.ok = update.succeeded() && update.stepText() == QLatin1String("Update Complete") &&
           unit->reg(0x25) == 0x01020304 * 0x25 && unit->logo(5) == (0x5A000000 | 5) &&
           unit->profile().firmwareVersion == 307;

    // What the wire alone needs for the transfers the run must make: every
    // frame the unit took in, once, and the one status request that shows
    // the new firmware runs (the others are how a wait is ended, not a
    // transfer); the boot monitor's probe at its own speed.
    const double byteMs = 10.0 * 1000.0 / 9600.0;
    Phase at = Read;
    bool statusCounted = false;
    QString last;
    for (const QString& frame : unit->frameHistory()) {
        if (frame == QLatin1String(":S#")) {
            if (at != Writeback || statusCounted)
                continue;
            statusCounted = true;
        }
        if (frame == last && frame == BuildRead(1))
            continue; // a read-back sent again
        last = frame;
        if (frame == QLatin1String(":SR#"))
            at = Verify;
        const Phase phase = frame == QLatin1String(":SAMBA#") || frame == QLatin1String(":S#") ||
                                    frame == QLatin1String(":SR#")
                                ? Other
                                : at;
        f.wireMs[phase] += exchangeMs(frame, byteMs);
        if (frame == QLatin1String(":SAMBA#")) {
            f.wireMs[Other] += 4 * 10.0 * 1000.0 / 115200.0; // "N#" and its LF CR
            at = Writeback;
        }
    }
    for (double w : f.wireMs)
        f.wireTotalMs += w;
    // The pauses that stay: the one after the logo write began lasts past
    // the logo's own transfer, the one after ":SP#" past its exchange.
    double logoWriteMs = 0;
    for (const QString& frame : unit->frameHistory())
        if (frame.startsWith(QLatin1String(":L")) && frame.size() == 13)
            logoWriteMs += exchangeMs(frame, byteMs);
    f.keptWaitMs = std::max(0.0, kPauseMs - logoWriteMs) +
                   (kPauseMs - exchangeMs(BuildSystem(QStringLiteral("P")), byteMs));
    return f;
}

void print(const char* name, const Figures& f) {
    const double targetMs = f.wireTotalMs + kToolMs + f.keptWaitMs;
    std::printf("%s: total_s=%.3f read_s=%.3f flash_s=%.3f writeback_s=%.3f verify_s=%.3f "
                "wait_s=%.3f other_s=%.3f target_s=%.3f ratio=%.2f\n",
                name, f.totalMs / 1000, f.phaseMs[Read] / 1000, f.phaseMs[Flash] / 1000,
                f.phaseMs[Writeback] / 1000, f.phaseMs[Verify] / 1000, f.phaseMs[Wait] / 1000,
                f.phaseMs[Other] / 1000, targetMs / 1000, f.totalMs / targetMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Figures tick = run(false);
    const Figures fast = run(true);
    print("guided-update", tick);
    print("guided-update-fast", fast);
    // The target: the wire time of the transfers (reads, write-back,
    // read-back, and the few frames around the flash), the tool's time and
    // the pauses that nothing signals.
    std::printf("guided-update-target: wire_limit_s=%.3f read_wire_s=%.3f writeback_wire_s=%.3f "
                "verify_wire_s=%.3f tool_s=%.3f waits_kept_s=%.3f target_s=%.3f\n",
                fast.wireTotalMs / 1000, fast.wireMs[Read] / 1000, fast.wireMs[Writeback] / 1000,
                fast.wireMs[Verify] / 1000, kToolMs / 1000, fast.keptWaitMs / 1000,
                (fast.wireTotalMs + kToolMs + fast.keptWaitMs) / 1000);
    if (!tick.ok || !fast.ok) {
        std::fprintf(stderr, "guided-update did not complete cleanly (tick %s, fast %s)\n",
                     tick.ok ? "ok" : "failed", fast.ok ? "ok" : "failed");
        return 1;
    }
    return 0;
}
