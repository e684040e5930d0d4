#pragma once
// The command-line front end's run: options, the link to the unit (a real
// port or a simulated unit on a pseudo-terminal), an event loop that ticks the
// poll cycle every 20 ms, prompts answered from options, and the output
// (text on stdout, or one JSON document with --json; messages on stderr).

#include "app/app_context.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace gp::sim {
class SimPort;
class VirtualWire;
} // namespace gp::sim

namespace gp::cli {

// Exit statuses.
// 130 is what a shell reports for a program ended by Ctrl+C (128 + SIGINT).
enum Exit : int { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitInterrupted = 130 };

// The environment variable that names the port when --port is not given.
inline constexpr char kPortVariable[] = "GLIMMERPANE_PORT";

class UnitChannel;

struct CliOptions {
    QString port; // --port NAME|PATH
    // Every --port given and each name of --ports A,B,...: more than one runs
    // the command on every port at once.
    QStringList ports;
    bool simulate = false;
    bool json = false;
    QString logFile;      // --log FILE: the traffic log, as "LogComs" writes it
    bool yes = false;     // --yes: answer the confirmations with Yes
    bool help = false;    // --help / -h: print the help (of the command, if one is named)
    bool version = false; // --version
    QStringList simArgs;  // --sim-option ...: passed to the simulated unit
    // --sim-virtual: the simulated unit runs in this process in virtual time
    // (each poll period moves the wire 20 ms at once), so a test can run
    // hundreds of commands under wire faults in seconds.
    bool virtualTime = false;
    bool fast = false; // --fast: the fast link
    // --sim-dump FILE: at the end, the simulated unit's registers, one
    // "NN HexLong" line each, for a test to compare with what was loaded.
    QString simDump;
    QStringList words; // the command and its own arguments
    // Lays out an HTML document as a PDF file (path, html; answers an error
    // text or nothing). Given by the program, which links the GUI module for
    // it; empty when PDF output is not available.
    std::function<Status(const QString&, const QString&)> writePdf;
    // Set when this run is one unit of several run at once: its output goes
    // there, tagged with its port, and Ctrl+C is watched by the runner.
    UnitChannel* unit = nullptr;
};

// One unit of several run at once, each in a thread of its own: what the
// session prints goes through here, whole lines at a time.
class UnitChannel {
  public:
    virtual ~UnitChannel() = default;
    virtual void line(bool toStderr, const QString& text) = 0;
    // One NDJSON line as it happens (a step of a guided run).
    virtual void jsonLine(const QJsonObject& object) = 0;
    // The unit's closing JSON document.
    virtual void document(const QJsonObject& doc, bool compact) = 0;
    // Ctrl+C or SIGTERM reached the runner.
    virtual bool interrupted() const = 0;
    // Claims a file for this unit, so that no two units write one file.
    // Answers the port of the unit that claimed it first; empty when the
    // file is this unit's.
    virtual QString claimFile(const QString& path) = 0;
    // Sets this unit apart from the others (scratch file names).
    virtual int index() const = 0;
};

// Watches SIGINT and SIGTERM for as long as the object lives, calling
// onInterrupt in the event loop of the thread that made it. One at a time.
std::unique_ptr<QObject> watchSignals(std::function<void()> onInterrupt);

// The identity read, as the desktop tool does it on connecting; a reply lost
// is read again on its own. False, with a message and "unread" naming every
// frame still unanswered, when one of them reads something other than the
// `unneeded` registers (a value the command does not use costs it nothing).
class CliSession;
bool readIdentity(CliSession& s, const QList<int>& unneeded = {});
// Connects and reads the identity (see readIdentity).
bool connectAndIdentify(CliSession& s);
// Register numbers as the unit names them ("2E"), for JSON.
QJsonArray regArray(const QList<int>& regs);

// Parses the global options, before or after the command, as "--name VALUE"
// or "--name=VALUE" (the latter form is split for the command's own options
// too); fails with the reason on bad usage.
Status parseGlobalOptions(const QStringList& argv, CliOptions& out);

class CliSession {
  public:
    explicit CliSession(CliOptions options);
    ~CliSession();

    const CliOptions& options() const { return options_; }
    Link& link() { return link_; }
    AppContext& ctx() { return *ctx_; }

    // Opens the port (or starts the simulated unit and opens its terminal).
    // On failure prints why and answers false.
    bool connect();

    // Runs the event loop, ticking the poll cycle every 20 ms, until done()
    // answers true or timeoutMs pass. Answers done().
    bool runUntil(const std::function<bool()>& done, int timeoutMs);
    // Runs the event loop for a while.
    void runFor(int ms);
    // Milliseconds since the session began, on the session's clock (virtual
    // with --sim-virtual).
    qint64 nowMs() const;
    // Ctrl+C (SIGINT) or SIGTERM arrived: runUntil returns at once from then
    // on, so that a command can put the unit back in order and end.
    bool interrupted() const {
        return interrupted_ || (options_.unit && options_.unit->interrupted());
    }
    // The port this run talks to: as given, or the simulated unit's terminal.
    QString portName() const { return portName_; }
    // What keeps the session from running a command at all (a log that was
    // asked for and cannot be written); empty when nothing does.
    const QString& setupProblem() const { return setupProblem_; }
    // See UnitChannel::claimFile; one unit alone owns every file.
    QString claimFile(const QString& path) {
        return options_.unit ? options_.unit->claimFile(path) : QString();
    }
    // Waits for the running batch to end. Answers true when it completed
    // with a reply to its last frame (queue position -1).
    bool waitBatch(int timeoutMs = 180000);
    // Reads the frames as one batch, then reads the frames whose reply was
    // lost again, in a batch of their own, up to `retries` times. Answers the
    // frames still unanswered at the end; empty when every frame was answered.
    QStringList readFrames(const QStringList& frames, int retries = 3, int timeoutMs = 10000);

    // Output. Text goes to stdout at once (unless --json); the JSON document
    // collects the same content and is printed by finish(). Messages go to
    // stderr; with --json a failed run carries them as "error" too.
    void out(const QString& line);
    void set(const QString& key, const QJsonValue& value);
    QJsonObject& json() { return json_; }
    void err(const QString& line);
    // One overall progress line on stderr, redrawn in place, only when
    // stderr is a terminal; a message or the end finishes it with a newline.
    void progressLine(const QString& text);
    // Whether each batch's own progress bar is drawn (off while a command
    // draws its overall line).
    void setBatchProgress(bool on) { batchProgress_ = on; }
    int finish(int status);
    // The closing document on one line: the last line of a command that
    // prints one JSON object per line (NDJSON) as it goes.
    void setCompactJson(bool on) { compactJson_ = on; }
    // With --json: prints one object as one line at once (NDJSON) and makes
    // the closing document one line too. Without --json it does nothing.
    void jsonLine(const QJsonObject& object);
    // With --json: prints one object as one line at once, leaving the form
    // of the closing document alone. Without --json it does nothing.
    void stepLine(const QJsonObject& object);

    // Asks before a change to the unit that cannot be undone, naming what it
    // does; default No. Answers nothing to go ahead (--yes, or "y" typed),
    // else the exit status, the reason printed: ExitUsage without a
    // terminal to ask on (--yes is needed then), ExitFailed for "no".
    std::optional<int> confirm(const QString& consequence);

    // Optional-argument helpers for commands: "--name VALUE" pairs.
    static std::optional<QString> takeOption(QStringList& args, const QString& name);
    static bool takeFlag(QStringList& args, const QString& name);

  private:
    void drawProgress(const ProgressState& s);

    CliOptions options_;
    Link link_;
    std::unique_ptr<Persist> persist_;
    std::unique_ptr<LangDll> lang_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<ViewTabs> tabs_;
    std::unique_ptr<AppContext> ctx_;
    std::unique_ptr<QObject> simulator_;
    sim::SimPort* virtualPort_ = nullptr; // owned by the link
    qint64 virtualMs_ = 0;
    std::unique_ptr<sim::VirtualWire> virtualWire_;
    std::unique_ptr<QObject> advanceContext_;
    qint64 startedMs_ = 0;
    QJsonObject json_;
    QStringList messages_;
    bool progressShown_ = false;
    bool compactJson_ = false;
    bool batchProgress_ = true;
    bool stderrIsTerminal_ = false;
    bool interrupted_ = false;
    std::unique_ptr<QObject> signalWatch_;
    QString portName_;
    QString setupProblem_;
    bool noPort_ = false;
};

// One CSV row of a watch as a JSON object: each column under its header's
// name, numbers as numbers, an empty cell (a lost reply) as null.
QJsonObject csvRowObject(const QStringList& header, const QStringList& cells);

// One command of the front end.
struct Command {
    QString name;  // "identity", "config save", ...
    QString usage; // one line for the command list
    std::function<int(CliSession&, QStringList args)> run;
    // "help COMMAND" / "COMMAND --help": what it does and every option it
    // takes, one explained per line. Empty: the usage line says it all.
    QString help = {};
};

// Every command; the commands of each capability live beside it.
QList<Command> allCommands();

// The whole program: parse, connect, run the command. Answers the exit status.
// writePdf: see CliOptions::writePdf.
int runCli(const QStringList& argv,
           std::function<Status(const QString&, const QString&)> writePdf = {});

} // namespace gp::cli
