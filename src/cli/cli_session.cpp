#include "cli/cli_session.h"

#include "app/printable_text.h"
#include "cli/cli_prompts.h"
#include "cli/cli_simulator.h"
#include "cli/rig.h"
#include "link/codec.h"
#include "platform/qt_serial_port.h"
#include "sim/sim_port.h"
#include "sim/virtual_wire.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace gp::cli {

namespace {

// The global options, in the order the help lists them. The options only
// tests use (--sim-virtual, --sim-dump) are left out of the help.
struct GlobalOption {
    const char* name;
    const char* value; // nullptr: a flag
    const char* help;
};
constexpr GlobalOption kGlobalOptions[] = {
    {"--port", "NAME|PATH",
     "the serial port: a name like ttyUSB0 or a device path (default: the environment "
     "variable GLIMMERPANE_PORT); repeat it to run the command on several units at once"},
    {"--ports", "NAME,NAME,...", "several ports at once, as many --port options"},
    {"--simulate", nullptr, "start a simulated unit on a pseudo-terminal and use it as the port"},
    {"--sim-option", "FAULT", "arm a wire fault on the simulated unit (may be repeated)"},
    {"--json", nullptr, "print one JSON document instead of text"},
    {"--log", "FILE", "write the traffic log to FILE"},
    {"--yes", nullptr, "answer the confirmations with yes"},
    {"--fast", nullptr,
     "fast link: send each frame of a batch as soon as the reply to the last one is in, "
     "instead of on the next 20 ms tick"},
    {"--help", nullptr, "this help; COMMAND --help or help COMMAND: the command's help"},
    {"--version", nullptr, "print the program's version"},
};

bool takesValue(const QString& name) {
    for (const GlobalOption& o : kGlobalOptions)
        if (name == QLatin1String(o.name))
            return o.value != nullptr;
    return name == QLatin1String("--sim-dump");
}

bool isGlobal(const QString& name) {
    for (const GlobalOption& o : kGlobalOptions)
        if (name == QLatin1String(o.name))
            return true;
    return name == QLatin1String("-h") || name == QLatin1String("--sim-virtual") ||
           name == QLatin1String("--sim-dump");
}

} // namespace

Status parseGlobalOptions(const QStringList& argv, CliOptions& out) {
    // "--name=VALUE" is "--name VALUE", for every option.
    static const QRegularExpression joined(QStringLiteral("^(--[a-z0-9][a-z0-9-]*)=(.*)$"));
    QStringList args;
    for (const QString& a : argv) {
        const QRegularExpressionMatch m = joined.match(a);
        if (m.hasMatch())
            args << m.captured(1) << m.captured(2);
        else
            args << a;
    }
    QStringList words;
    bool inCommand = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString opt = args.at(i);
        if (!opt.startsWith(QLatin1Char('-')) || opt.size() < 2) {
            inCommand = true;
            words << opt;
            continue;
        }
        if (!isGlobal(opt)) {
            // Before the command every option is a global one; after it the
            // command's own options are left to the command.
            if (!inCommand)
                return fail(QStringLiteral("unknown option %1").arg(opt));
            words << opt;
            continue;
        }
        QString v;
        if (takesValue(opt)) {
            if (i + 1 >= args.size())
                return fail(QStringLiteral("%1 needs a value").arg(opt));
            v = args.at(++i);
        }
        if (opt == QStringLiteral("--port"))
            out.ports << v;
        else if (opt == QStringLiteral("--ports"))
            out.ports << v.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (opt == QStringLiteral("--simulate"))
            out.simulate = true;
        else if (opt == QStringLiteral("--json"))
            out.json = true;
        else if (opt == QStringLiteral("--yes"))
            out.yes = true;
        else if (opt == QStringLiteral("--log"))
            out.logFile = v;
        else if (opt == QStringLiteral("--fast"))
            out.fast = true;
        else if (opt == QStringLiteral("--sim-virtual"))
            out.virtualTime = true;
        else if (opt == QStringLiteral("--sim-dump"))
            out.simDump = v;
        else if (opt == QStringLiteral("--sim-option"))
            out.simArgs << v;
        else if (opt == QStringLiteral("--help") || opt == QStringLiteral("-h"))
            out.help = true;
        else if (opt == QStringLiteral("--version"))
            out.version = true;
    }
    out.words = words;
    if (!out.ports.isEmpty())
        out.port = out.ports.first();
    return Status();
}

namespace {

// A signal handler may do next to nothing: it writes one byte into a pipe,
// and the event loop sees the pipe become readable. The write end is the
// only thing the handler can reach, so it has to live at file scope.
int signalPipeWrite = -1;

void onSignal(int) {
    if (signalPipeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(signalPipeWrite, &byte, 1);
    }
}

// Owns the pipe and the handlers for the life of one session.
class SignalWatch : public QObject {
  public:
    explicit SignalWatch(std::function<void()> onInterrupt) {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        signalPipeWrite = fds_[1];
        notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this, onInterrupt] {
            char buf[16];
            while (::read(fds_[0], buf, sizeof buf) > 0) {
            }
            onInterrupt();
        });
        previousInt_ = std::signal(SIGINT, onSignal);
        previousTerm_ = std::signal(SIGTERM, onSignal);
    }
    ~SignalWatch() override {
        if (fds_[0] < 0)
            return;
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
        signalPipeWrite = -1;
        ::close(fds_[0]);
        ::close(fds_[1]);
    }

  private:
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    void (*previousInt_)(int) = SIG_DFL;
    void (*previousTerm_)(int) = SIG_DFL;
};

} // namespace

std::unique_ptr<QObject> watchSignals(std::function<void()> onInterrupt) {
    return std::make_unique<SignalWatch>(std::move(onInterrupt));
}

CliSession::CliSession(CliOptions options) : options_(std::move(options)) {
    startedMs_ = QDateTime::currentMSecsSinceEpoch();
    // Several units at once: the runner watches the signals for all of them.
    if (!options_.unit)
        signalWatch_ = std::make_unique<SignalWatch>([this] { interrupted_ = true; });
    // The front end keeps no settings of its own; a scratch store serves the
    // parts that read or write settings during a run, one per unit.
    const QString scratch =
        options_.unit
            ? QStringLiteral("glimmerpane-cli-%1-%2.ini")
                  .arg(QCoreApplication::applicationPid())
                  .arg(options_.unit->index())
            : QStringLiteral("glimmerpane-cli-%1.ini").arg(QCoreApplication::applicationPid());
    persist_ = std::make_unique<Persist>(QDir::temp().filePath(scratch));
    lang_ = std::make_unique<LangDll>();
    auto prompts = std::make_unique<CliPrompts>(options_.yes);
    if (options_.unit)
        prompts->print = [unit = options_.unit](const QString& line) { unit->line(true, line); };
    prompts_ = std::move(prompts);
    tabs_ = std::make_unique<ViewTabs>(link_);
    ctx_ = std::make_unique<AppContext>(
        AppContext{link_, *persist_, *lang_, *prompts_, *tabs_, OperatingMode{true, true}, -1});
    // Progress drawn in place is one line for one unit; several at once
    // print their messages only.
    stderrIsTerminal_ = !options_.unit && isatty(STDERR_FILENO) == 1;
    link_.progress.setOnChange([this](const ProgressState& s) { drawProgress(s); });
    advanceContext_ = std::make_unique<QObject>();
    link_.setFast(options_.fast);
    // A command runs on one unit: a port that goes away fails it, and is
    // not opened again under the same name behind its back.
    link_.serial.reopenAfterVanish = false;
    // On a real line the next frame leaves by a timer; with the unit in
    // virtual time, the wire takes this over.
    link_.scheduleAdvance = [this](int gapMs) {
        QTimer::singleShot(gapMs, Qt::PreciseTimer, advanceContext_.get(),
                           [this] { link_.advanceNow(); });
    };
    link_.serial.onStatus = [this](const QString& s) {
        if (s.contains(QStringLiteral(": ")))
            err(s);
    };
    if (!options_.logFile.isEmpty()) {
        if (const Status opened = link_.log.openFile(options_.logFile, false); opened)
            link_.log.setLogComs(true);
        else
            setupProblem_ = opened.error() + QStringLiteral(" Nothing was sent.");
    }
}

CliSession::~CliSession() {
    if (virtualPort_ && !options_.simDump.isEmpty()) {
        QFile dump(options_.simDump);
        if (dump.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            for (int r = 0; r < 256; ++r)
                dump.write(QStringLiteral("%1 %2\n")
                               .arg(HexByte(r), HexLong(virtualPort_->unit().reg(r)))
                               .toLatin1());
        }
    }
    link_.serial.close();
    QFile::remove(persist_->settingsPath());
}

bool CliSession::connect() {
    QString port = options_.port;
    if (options_.simulate && options_.virtualTime) {
        auto sim = std::make_unique<sim::SimPort>(sim::SimProfile{});
        for (const QString& fault : options_.simArgs) {
            QString error;
            if (!sim->arm(fault, &error)) {
                err(QStringLiteral("Cannot start the simulated unit: %1").arg(error));
                return false;
            }
        }
        virtualPort_ = sim.get();
        portName_ = QStringLiteral("simunit0");
        link_.serial.setPort(std::move(sim));
        virtualWire_ = std::make_unique<sim::VirtualWire>(*virtualPort_, link_);
        if (!link_.serial.choosePort(QStringLiteral("simunit0"))) {
            err(link_.serial.portProblem());
            return false;
        }
        return true;
    }
    if (options_.simulate) {
        auto sim = startSimulator(options_.simArgs);
        if (!sim) {
            err(QStringLiteral("Cannot start the simulated unit: %1").arg(sim.error()));
            return false;
        }
        port = simulatorPort(**sim);
        simulator_ = std::move(*sim);
    }
    portName_ = port;
    if (port.isEmpty()) {
        err(QStringLiteral("No port given: use --port NAME, set %1, or use --simulate.")
                .arg(QLatin1String(kPortVariable)));
        noPort_ = true;
        return false;
    }
    link_.serial.setPort(std::make_unique<QtSerialPort>());
    if (!link_.choosePort(port)) {
        // The link has said it already when it reported its status.
        if (!messages_.contains(link_.serial.portProblem()))
            err(link_.serial.portProblem());
        return false;
    }
    return true;
}

qint64 CliSession::nowMs() const {
    if (virtualPort_)
        return virtualMs_;
    return QDateTime::currentMSecsSinceEpoch() - startedMs_;
}

bool CliSession::runUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done() || interrupted())
        return done();
    if (virtualPort_) {
        const qint64 end = virtualMs_ + timeoutMs;
        while (!done() && !interrupted() && virtualMs_ <= end) {
            virtualWire_->period();
            virtualMs_ += PollCycle::kTickMs;
            link_.tick();
        }
        return done();
    }
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer clock;
    clock.start();
    tick.setInterval(PollCycle::kTickMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        link_.tick();
        if (done() || interrupted() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

void CliSession::runFor(int ms) {
    const qint64 end = nowMs() + ms;
    runUntil([&] { return nowMs() >= end; }, ms + 1000);
}

bool CliSession::waitBatch(int timeoutMs) {
    runUntil([this] { return !link_.busy(); }, timeoutMs);
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    const BatchOutcome o = link_.poll.outcome(link_.poll.stats().id);
    return o.finished && !o.lastReplyLost;
}

QStringList CliSession::readFrames(const QStringList& frames, int retries, int timeoutMs) {
    QStringList pending = frames;
    for (int attempt = 0; attempt <= retries && !pending.isEmpty() && !interrupted(); ++attempt) {
        const int id = link_.startBatch(pending);
        if (id == 0)
            break;
        waitBatch(timeoutMs);
        // Ended without reaching its end: what was not yet sent is unknown.
        const BatchOutcome o = link_.poll.outcome(id);
        if (o.unsentFrom >= 0)
            link_.poll.abandon();
        QStringList left;
        for (int e : o.missingEntries(static_cast<int>(pending.size())))
            left << pending.at(e);
        pending = left;
    }
    return pending;
}

void CliSession::out(const QString& line) {
    if (!options_.json && options_.unit) {
        options_.unit->line(false, line);
    } else if (!options_.json) {
        // A progress line on the same terminal ends before the text.
        if (progressShown_) {
            std::fprintf(stderr, "\n");
            progressShown_ = false;
        }
        std::fprintf(stdout, "%s\n", printableText(line, LineBreaks::Keep).toUtf8().constData());
        // A pipe sees each line as it happens, not at the end of a long run.
        std::fflush(stdout);
    }
}

void CliSession::set(const QString& key, const QJsonValue& value) {
    json_.insert(key, value);
}

void CliSession::err(const QString& line) {
    messages_ << line;
    if (options_.unit) {
        options_.unit->line(true, line);
        return;
    }
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    std::fprintf(stderr, "%s\n", printableText(line, LineBreaks::Keep).toUtf8().constData());
}

int CliSession::finish(int status) {
    // A command that needs a unit and was given no port was used wrongly.
    if (noPort_ && status == ExitFailed)
        status = ExitUsage;
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    // Ctrl+C ends the run as the shell expects, whatever the command made of
    // it (a watch without --count ends this way as planned).
    if (interrupted() && status != ExitUsage) {
        status = ExitInterrupted;
        if (options_.json && !json_.contains(QStringLiteral("error")))
            json_.insert(QStringLiteral("error"), QStringLiteral("interrupted"));
    }
    if (options_.json) {
        json_.insert(QStringLiteral("status"), status);
        // A failure says why in the document too, not only on stderr.
        if (status != ExitOk && !json_.contains(QStringLiteral("error")))
            json_.insert(QStringLiteral("error"), messages_.isEmpty()
                                                      ? QStringLiteral("failed")
                                                      : messages_.join(QLatin1Char('\n')));
        if (options_.unit) {
            options_.unit->document(json_, compactJson_);
            return status;
        }
        std::fprintf(stdout, "%s\n",
                     QJsonDocument(json_)
                         .toJson(compactJson_ ? QJsonDocument::Compact : QJsonDocument::Indented)
                         .constData());
    }
    std::fflush(stdout);
    return status;
}

QJsonObject csvRowObject(const QStringList& header, const QStringList& cells) {
    QJsonObject row;
    for (qsizetype i = 0; i < header.size(); ++i) {
        const QString cell = cells.value(i);
        bool number = false;
        const double v = QLocale::c().toDouble(cell, &number);
        row.insert(header.at(i), cell.isEmpty() ? QJsonValue()
                                 : number       ? QJsonValue(v)
                                                : QJsonValue(cell));
    }
    return row;
}

void CliSession::jsonLine(const QJsonObject& object) {
    if (!options_.json)
        return;
    compactJson_ = true;
    stepLine(object);
}

void CliSession::stepLine(const QJsonObject& object) {
    if (!options_.json)
        return;
    if (options_.unit) {
        options_.unit->jsonLine(object);
        return;
    }
    std::fprintf(stdout, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

void CliSession::progressLine(const QString& text) {
    if (!stderrIsTerminal_)
        return;
    // Back to the line's start and clear it: the line is drawn in place.
    std::fprintf(stderr, "\r\033[K%s", printableText(text).toUtf8().constData());
    std::fflush(stderr);
    progressShown_ = true;
}

void CliSession::drawProgress(const ProgressState& s) {
    if (!stderrIsTerminal_ || !batchProgress_)
        return;
    const int width = 30;
    const int filled = static_cast<int>(s.fraction * width + 0.5);
    std::fprintf(stderr, "\r[%s%s] %4s", QByteArray(filled, '=').constData(),
                 QByteArray(width - filled, ' ').constData(), qPrintable(s.label));
    std::fflush(stderr);
    progressShown_ = true;
}

std::optional<int> CliSession::confirm(const QString& consequence) {
    if (options_.yes)
        return std::nullopt;
    // Several units at once cannot share one terminal's questions.
    if (options_.unit || isatty(STDIN_FILENO) != 1 || isatty(STDERR_FILENO) != 1) {
        err(consequence + QStringLiteral(" There is no terminal to ask on: pass --yes to go "
                                         "ahead. Nothing was sent for it."));
        return ExitUsage;
    }
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    std::fprintf(stderr, "%s Go ahead? [y/N] ", qPrintable(printableText(consequence)));
    std::fflush(stderr);
    char answer[64] = {};
    const bool read = std::fgets(answer, sizeof answer, stdin) != nullptr;
    if (read && (answer[0] == 'y' || answer[0] == 'Y'))
        return std::nullopt;
    if (!read)
        std::fprintf(stderr, "\n");
    err(QStringLiteral("Not confirmed: nothing was sent for it."));
    return ExitFailed;
}

std::optional<QString> CliSession::takeOption(QStringList& args, const QString& name) {
    const qsizetype at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.size())
        return std::nullopt;
    const QString v = args.at(at + 1);
    args.remove(at, 2);
    return v;
}

bool CliSession::takeFlag(QStringList& args, const QString& name) {
    return args.removeAll(name) > 0;
}

namespace {

// The command list; on stdout when asked for, on stderr after bad usage.
void usage(const QList<Command>& commands, FILE* to) {
    std::fprintf(to, "usage: glimmerpane-cli [OPTION ...] COMMAND [ARGUMENT ...] [OPTION ...]\n"
                     "\noptions (before or after the command; also as --port=PATH and so on):\n");
    for (const GlobalOption& o : kGlobalOptions) {
        const QString left =
            o.value ? QStringLiteral("%1 %2").arg(QLatin1String(o.name), QLatin1String(o.value))
                    : QString::fromLatin1(o.name);
        std::fprintf(to, "  %-24s %s\n", qPrintable(left), o.help);
    }
    // "help COMMAND" explains a command's options.
    std::fprintf(to, "\ncommands:\n");
    for (const auto& c : commands)
        std::fprintf(to, "  %s\n", qPrintable(c.usage));
    std::fprintf(to, "\nhelp COMMAND (or COMMAND --help) explains the command's options.\n");
    std::fprintf(to,
                 "\nSeveral ports (--port A --port B, or --ports A,B) run identity, config save,\n"
                 "config load, config diff, diag, profile, firmware or site apply on every unit\n"
                 "at once: each output line starts with [PORT]; --json prints {\"units\": [one\n"
                 "object per unit, with its \"port\"], \"status\": N, \"failed\": [ports]}.\n"
                 "config save FILE must then hold {port}, {uid} or {sn}. The exit status is not 0\n"
                 "when any unit failed; the failed units are named on stderr at the end.\n");
}

void commandHelp(const Command& c) {
    std::fprintf(stdout, "usage: glimmerpane-cli [OPTION ...] %s\n", qPrintable(c.usage));
    if (!c.help.isEmpty())
        std::fprintf(stdout, "\n%s\n", qPrintable(c.help));
}

// The command the words start with, the longest name first ("config save"
// over "config"); `used` answers how many words its name took.
const Command* findCommand(const QList<Command>& commands, const QStringList& words, int& used) {
    const Command* found = nullptr;
    used = 0;
    for (const auto& c : commands) {
        const QStringList parts = c.name.split(' ');
        if (parts.size() > words.size() || parts.size() <= used)
            continue;
        if (words.mid(0, parts.size()) == parts) {
            found = &c;
            used = static_cast<int>(parts.size());
        }
    }
    return found;
}

// Bad usage, said in one line with where to read more on stderr and, with
// --json, in the document too.
int usageError(const CliOptions& options, const QString& why, const QString& topic = QString()) {
    std::fprintf(stderr, "glimmerpane-cli: %s\nTry 'glimmerpane-cli help%s' for more.\n",
                 qPrintable(why), topic.isEmpty() ? "" : qPrintable(u' ' + topic));
    if (options.json) {
        const QJsonObject doc{{QStringLiteral("status"), ExitUsage},
                              {QStringLiteral("error"), why}};
        std::fprintf(stdout, "%s\n", QJsonDocument(doc).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }
    return ExitUsage;
}

// The commands named "WORD ..." ("config save", "config load" for config).
QList<const Command*> subcommands(const QList<Command>& commands, const QString& word) {
    QList<const Command*> out;
    for (const Command& c : commands)
        if (c.name.startsWith(word + u' ') && !c.name.contains(QLatin1String(" --")))
            out << &c;
    return out;
}

} // namespace

int runCli(const QStringList& argv,
           std::function<Status(const QString&, const QString&)> writePdf) {
    const QList<Command> commands = allCommands();
    CliOptions options;
    options.writePdf = std::move(writePdf);
    if (const Status parsed = parseGlobalOptions(argv, options); !parsed)
        return usageError(options, parsed.error());
    if (options.version) {
        std::printf("glimmerpane-cli %s\n", GP_VERSION_TEXT);
        return ExitOk;
    }
    QStringList words = options.words;
    // "help COMMAND" is "COMMAND --help".
    if (!words.isEmpty() && words.first() == QStringLiteral("help")) {
        words.removeFirst();
        options.help = true;
    }
    if (words.isEmpty()) {
        if (options.help) {
            usage(commands, stdout);
            return ExitOk;
        }
        return usageError(options, QStringLiteral("no command given"));
    }
    int used = 0;
    const Command* found = findCommand(commands, words, used);
    // "watch --co2" is named with its option, which may come anywhere.
    if (options.help && found && found->name == QStringLiteral("watch") &&
        words.contains(QStringLiteral("--co2"))) {
        int co2Used = 0;
        if (const Command* co2 =
                findCommand(commands, {QStringLiteral("watch"), QStringLiteral("--co2")}, co2Used))
            found = co2;
    }
    if (!found) {
        // "config" alone: its subcommands.
        const QList<const Command*> family = subcommands(commands, words.first());
        if (family.isEmpty())
            return usageError(options, QStringLiteral("unknown command '%1'").arg(words.join(' ')));
        if (options.help) {
            std::fprintf(stdout, "usage: glimmerpane-cli [OPTION ...] %s SUBCOMMAND ...\n\n",
                         qPrintable(words.first()));
            for (const Command* c : family)
                std::fprintf(stdout, "  %s\n", qPrintable(c->usage));
            std::fprintf(stdout, "\nhelp %s SUBCOMMAND explains its options.\n",
                         qPrintable(words.first()));
            return ExitOk;
        }
        QStringList names;
        for (const Command* c : family)
            names << c->name;
        return usageError(
            options,
            words.size() == 1
                ? QStringLiteral("'%1' needs a subcommand: %2")
                      .arg(words.first(), names.join(QStringLiteral(", ")))
                : QStringLiteral("unknown command '%1'; the %2 commands are %3")
                      .arg(words.join(' '), words.first(), names.join(QStringLiteral(", "))),
            words.first());
    }
    if (options.help) {
        commandHelp(*found);
        return ExitOk;
    }
    const QStringList args = words.mid(used);
    if (options.ports.size() > 1) {
        if (const QString problem = manyUnitsProblem(*found, args, options); !problem.isEmpty())
            return usageError(options, problem, found->name);
        return runManyUnits(*found, args, options);
    }
    if (options.port.isEmpty() && !options.simulate)
        options.port = qEnvironmentVariable(kPortVariable);
    CliSession session(options);
    if (!session.setupProblem().isEmpty()) {
        session.err(session.setupProblem());
        return session.finish(ExitFailed);
    }
    const int status = found->run(session, args);
    return session.interrupted() ? ExitInterrupted : status;
}

} // namespace gp::cli
