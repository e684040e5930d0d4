#include "cli/cli_session.h"

#include "app/printable_text.h"
#include "cli/cli_prompts.h"
#include "cli/cli_simulator.h"
#include "link/codec.h"
#include "platform/qt_serial_port.h"
#include "sim/sim_port.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace gp::cli {

std::optional<QString> parseGlobalOptions(const QStringList& argv, CliOptions& out) {
    QStringList args = argv;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        const QString opt = args.takeFirst();
        auto value = [&](QString& into) -> bool {
            if (args.isEmpty())
                return false;
            into = args.takeFirst();
            return true;
        };
        if (opt == QStringLiteral("--port")) {
            if (!value(out.port))
                return QStringLiteral("--port needs a port name or path");
        } else if (opt == QStringLiteral("--simulate")) {
            out.simulate = true;
        } else if (opt == QStringLiteral("--json")) {
            out.json = true;
        } else if (opt == QStringLiteral("--yes")) {
            out.yes = true;
        } else if (opt == QStringLiteral("--log")) {
            if (!value(out.logFile))
                return QStringLiteral("--log needs a file name");
        } else if (opt == QStringLiteral("--fast")) {
            out.fast = true;
        } else if (opt == QStringLiteral("--sim-virtual")) {
            out.virtualTime = true;
        } else if (opt == QStringLiteral("--sim-dump")) {
            if (!value(out.simDump))
                return QStringLiteral("--sim-dump needs a file name");
        } else if (opt == QStringLiteral("--sim-option")) {
            QString v;
            if (!value(v))
                return QStringLiteral("--sim-option needs a value");
            out.simArgs << v;
        } else {
            return QStringLiteral("unknown option %1").arg(opt);
        }
    }
    // --yes may also follow the command.
    out.yes = CliSession::takeFlag(args, QStringLiteral("--yes")) || out.yes;
    out.words = args;
    return std::nullopt;
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

CliSession::CliSession(CliOptions options) : options_(std::move(options)) {
    startedMs_ = QDateTime::currentMSecsSinceEpoch();
    signalWatch_ = std::make_unique<SignalWatch>([this] { interrupted_ = true; });
    // The front end keeps no settings of its own; a scratch store serves the
    // parts that read or write settings during a run.
    persist_ = std::make_unique<Persist>(QDir::temp().filePath(
        QStringLiteral("glimmerpane-cli-%1.ini").arg(QCoreApplication::applicationPid())));
    lang_ = std::make_unique<LangDll>();
    prompts_ = std::make_unique<CliPrompts>(options_.yes);
    tabs_ = std::make_unique<ViewTabs>(link_);
    ctx_ = std::make_unique<AppContext>(
        AppContext{link_, *persist_, *lang_, *prompts_, *tabs_, OperatingMode{true, true}, -1});
    stderrIsTerminal_ = isatty(STDERR_FILENO) == 1;
    link_.progress.setOnChange([this](const ProgressState& s) { drawProgress(s); });
    advanceContext_ = std::make_unique<QObject>();
    link_.setFast(options_.fast);
    link_.scheduleAdvance = [this](int gapMs) {
        if (virtualPort_)
            virtualAdvanceAtMs_ = virtualPort_->nowMs() + gapMs;
        else
            QTimer::singleShot(gapMs, Qt::PreciseTimer, advanceContext_.get(),
                               [this] { link_.advanceNow(); });
    };
    link_.serial.onStatus = [this](const QString& s) {
        if (s.contains(QStringLiteral(": ")))
            err(s);
    };
    if (!options_.logFile.isEmpty()) {
        QString error;
        if (link_.log.openFile(options_.logFile, false, &error))
            link_.log.setLogComs(true);
        else
            err(error);
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
        link_.serial.setPort(std::move(sim));
        if (!link_.serial.choosePort(QStringLiteral("simunit0"))) {
            err(link_.serial.portProblem());
            return false;
        }
        return true;
    }
    if (options_.simulate) {
        QString error;
        auto sim = startSimulator(options_.simArgs, &error);
        if (!sim) {
            err(QStringLiteral("Cannot start the simulated unit: %1").arg(error));
            return false;
        }
        port = simulatorPort(*sim);
        simulator_ = std::move(sim);
    }
    if (port.isEmpty()) {
        err(QStringLiteral("No port given: use --port NAME or --simulate."));
        return false;
    }
    link_.serial.setPort(std::make_unique<QtSerialPort>());
    if (!link_.choosePort(port)) {
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
    if (done() || interrupted_)
        return done();
    if (virtualPort_) {
        const qint64 end = virtualMs_ + timeoutMs;
        while (!done() && !interrupted_ && virtualMs_ <= end) {
            advanceVirtual();
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
        if (done() || interrupted_ || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

void CliSession::advanceVirtual() {
    if (!link_.fast()) {
        virtualPort_->advance(PollCycle::kTickMs);
        return;
    }
    // Short slices, so that the advance a complete reply asks for runs when
    // it is due rather than at the end of the period.
    constexpr double kSliceMs = 0.5;
    constexpr double kEpsMs = 1e-6;
    const double end = virtualPort_->nowMs() + PollCycle::kTickMs;
    for (;;) {
        const double now = virtualPort_->nowMs();
        if (virtualAdvanceAtMs_ >= 0 && virtualAdvanceAtMs_ <= now + kEpsMs) {
            virtualAdvanceAtMs_ = -1;
            link_.advanceNow();
            continue;
        }
        if (now >= end - kEpsMs)
            return;
        double next = std::min(end, now + kSliceMs);
        if (virtualAdvanceAtMs_ >= 0)
            next = std::min(next, virtualAdvanceAtMs_);
        virtualPort_->advance(next - now);
    }
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
    return link_.poll.CmdQueuePos == -1 && link_.poll.stats().finished;
}

QStringList CliSession::readFrames(const QStringList& frames, int retries, int timeoutMs) {
    QStringList pending = frames;
    for (int attempt = 0; attempt <= retries && !pending.isEmpty() && !interrupted_; ++attempt) {
        const int id = link_.startBatch(pending);
        if (id == 0)
            break;
        waitBatch(timeoutMs);
        const BatchStats& st = link_.poll.stats();
        QStringList left;
        if (st.id == id) {
            for (int e : st.lostEntries)
                if (e >= 0 && e < pending.size())
                    left << pending.at(e);
        }
        if (st.id != id || !st.finished) {
            // Ended without reaching its end: what was not yet sent is unknown.
            const int from = st.id == id ? qMax(0, link_.poll.CmdQueuePos) : 0;
            link_.poll.abandon();
            left << pending.mid(from);
        }
        pending = left;
    }
    return pending;
}

void CliSession::out(const QString& line) {
    if (!options_.json) {
        std::fprintf(stdout, "%s\n", printableText(line, LineBreaks::Keep).toUtf8().constData());
        // A pipe sees each line as it happens, not at the end of a long run.
        std::fflush(stdout);
    }
}

void CliSession::set(const QString& key, const QJsonValue& value) {
    json_.insert(key, value);
}

void CliSession::err(const QString& line) {
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    std::fprintf(stderr, "%s\n", printableText(line, LineBreaks::Keep).toUtf8().constData());
    messages_ << line;
}

int CliSession::finish(int status) {
    if (progressShown_) {
        std::fprintf(stderr, "\n");
        progressShown_ = false;
    }
    if (options_.json) {
        json_.insert(QStringLiteral("status"), status);
        // A failure says why in the document too, not only on stderr.
        if (status != ExitOk && !json_.contains(QStringLiteral("error")))
            json_.insert(QStringLiteral("error"), messages_.isEmpty()
                                                      ? QStringLiteral("failed")
                                                      : messages_.join(QLatin1Char('\n')));
        std::fprintf(stdout, "%s\n",
                     QJsonDocument(json_)
                         .toJson(compactJson_ ? QJsonDocument::Compact : QJsonDocument::Indented)
                         .constData());
    }
    std::fflush(stdout);
    return status;
}

void CliSession::drawProgress(const ProgressState& s) {
    if (!stderrIsTerminal_)
        return;
    const int width = 30;
    const int filled = static_cast<int>(s.fraction * width + 0.5);
    std::fprintf(stderr, "\r[%s%s] %4s", QByteArray(filled, '=').constData(),
                 QByteArray(width - filled, ' ').constData(), qPrintable(s.label));
    std::fflush(stderr);
    progressShown_ = true;
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
void usage(const QList<Command>& commands) {
    std::fprintf(stderr, "usage: glimmerpane-cli [--port NAME|PATH | --simulate] [--json] "
                         "[--log FILE] [--yes] COMMAND ...\n\ncommands:\n");
    for (const auto& c : commands)
        std::fprintf(stderr, "  %s\n", qPrintable(c.usage));
}
} // namespace

int runCli(const QStringList& argv,
           std::function<QString(const QString&, const QString&)> writePdf) {
    const QList<Command> commands = allCommands();
    CliOptions options;
    options.writePdf = std::move(writePdf);
    if (const auto problem = parseGlobalOptions(argv, options)) {
        std::fprintf(stderr, "glimmerpane-cli: %s\n", qPrintable(*problem));
        usage(commands);
        return ExitUsage;
    }
    if (options.words.isEmpty() || options.words.first() == QStringLiteral("help")) {
        usage(commands);
        return options.words.isEmpty() ? ExitUsage : ExitOk;
    }
    // The longest command name that the words start with ("config save").
    const Command* found = nullptr;
    int used = 0;
    for (const auto& c : commands) {
        const QStringList parts = c.name.split(' ');
        if (parts.size() > options.words.size() || parts.size() <= used)
            continue;
        if (options.words.mid(0, parts.size()) == parts) {
            found = &c;
            used = static_cast<int>(parts.size());
        }
    }
    if (!found) {
        std::fprintf(stderr, "glimmerpane-cli: unknown command '%s'\n",
                     qPrintable(options.words.join(' ')));
        usage(commands);
        return ExitUsage;
    }
    const QStringList args = options.words.mid(used);
    CliSession session(options);
    return found->run(session, args);
}

} // namespace gp::cli
