#include "cli/rig.h"

#include "app/printable_text.h"
#include "cli/unit_file_name.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace gp::cli {

namespace {

// Read-only or per-unit commands whose result is the unit's own. The others
// touch a shared thing (a terminal to ask on, a live stream, one file for
// all) or are not about a unit at all.
const QStringList kManyUnitCommands{QStringLiteral("identity"),    QStringLiteral("config save"),
                                    QStringLiteral("config load"), QStringLiteral("config diff"),
                                    QStringLiteral("diag"),        QStringLiteral("profile"),
                                    QStringLiteral("firmware"),    QStringLiteral("site apply")};

// What every unit of the run shares: the output streams, the files claimed,
// the stop flag.
class RigShared {
  public:
    // Whole lines under one lock: no two units' lines mix.
    void print(FILE* to, const QByteArray& text) {
        const QMutexLocker lock(&mutex_);
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), to);
        std::fflush(to);
    }
    QString claim(const QString& path, const QString& port) {
        const QString key = QFileInfo(path).absoluteFilePath();
        const QMutexLocker lock(&mutex_);
        const auto it = claimed_.constFind(key);
        if (it != claimed_.constEnd() && *it != port)
            return *it;
        claimed_.insert(key, port);
        return {};
    }
    std::atomic<bool> interrupted{false};

  private:
    QMutex mutex_;
    QHash<QString, QString> claimed_; // absolute path -> port
};

class RigUnit : public UnitChannel {
  public:
    RigUnit(RigShared& shared, QString port, int index)
        : port(std::move(port)), shared_(shared), index_(index) {}

    void line(bool toStderr, const QString& text) override {
        QByteArray out;
        const QString tag = QStringLiteral("[%1] ").arg(printableText(port));
        for (const QString& l : printableText(text, LineBreaks::Keep).split(u'\n'))
            out += (tag + l + u'\n').toUtf8();
        shared_.print(toStderr ? stderr : stdout, out);
        if (toStderr && !text.trimmed().isEmpty())
            lastMessage = text.trimmed();
    }
    void jsonLine(const QJsonObject& object) override {
        QJsonObject tagged = object;
        tagged.insert(QStringLiteral("port"), port);
        shared_.print(stdout, QJsonDocument(tagged).toJson(QJsonDocument::Compact) + '\n');
    }
    void document(const QJsonObject& doc, bool compact) override {
        document_ = doc;
        compact_ = compact;
        hasDocument_ = true;
    }
    bool interrupted() const override { return shared_.interrupted; }
    QString claimFile(const QString& path) override { return shared_.claim(path, port); }
    int index() const override { return index_; }

    // The unit's closing document, tagged with its port; made up from its
    // status and last message when the command printed none.
    QJsonObject result() const {
        QJsonObject d = hasDocument_ ? document_ : QJsonObject{{QStringLiteral("status"), status}};
        if (!hasDocument_ && status != ExitOk)
            d.insert(QStringLiteral("error"),
                     lastMessage.isEmpty() ? QStringLiteral("failed") : lastMessage);
        d.insert(QStringLiteral("port"), port);
        return d;
    }
    bool compact() const { return compact_; }

    const QString port;
    // Written by the unit's thread, read by the runner once it has ended.
    int status = ExitFailed;
    QString lastMessage;

  private:
    RigShared& shared_;
    const int index_;
    QJsonObject document_;
    bool compact_ = false;
    bool hasDocument_ = false;
};

// A port as the system knows it, so that one adapter named twice (a name
// and its path, or a link to it) is seen once.
QString portIdentity(const QString& port) {
    const QString path = port.contains(u'/') ? port : QStringLiteral("/dev/") + port;
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : real;
}

// The file a {port}-only template gives each port must differ from port to
// port; answers the first clash.
QString portNameClash(const QString& what, const QString& templ, const QStringList& ports) {
    QHash<QString, QString> seen;
    for (const QString& p : ports) {
        const QString name =
            QFileInfo(expandUnitPlaceholders(templ, {p, {}, {}}).toOptional().value_or(templ))
                .absoluteFilePath();
        if (seen.contains(name))
            return QStringLiteral("%1 %2 gives the ports %3 and %4 one file, %5")
                .arg(what, templ, seen.value(name), p, name);
        seen.insert(name, p);
    }
    return {};
}

} // namespace

bool runsOnManyUnits(const QString& commandName) {
    return kManyUnitCommands.contains(commandName);
}

QString manyUnitsProblem(const Command& command, const QStringList& args,
                         const CliOptions& options) {
    if (options.simulate || options.virtualTime)
        return QStringLiteral("--simulate starts one simulated unit; with several ports give "
                              "each unit's port instead");
    if (!runsOnManyUnits(command.name))
        return QStringLiteral("'%1' runs on one port at a time; several ports take: %2")
            .arg(command.name, kManyUnitCommands.join(QStringLiteral(", ")));
    QHash<QString, QString> seen;
    for (const QString& p : options.ports) {
        const QString id = portIdentity(p);
        if (seen.contains(id))
            return QStringLiteral("the ports %1 and %2 are one port").arg(seen.value(id), p);
        seen.insert(id, p);
    }
    if (!options.logFile.isEmpty()) {
        if (!options.logFile.contains(QStringLiteral("{port}")))
            return QStringLiteral("with several ports, --log FILE must hold {port}: each unit "
                                  "writes its own traffic log");
        if (const QString clash =
                portNameClash(QStringLiteral("--log"), options.logFile, options.ports);
            !clash.isEmpty())
            return clash;
    }
    // A backup holds one unit's settings, serial number included: written
    // back into several units it would make them copies of that one.
    if (command.name == QStringLiteral("firmware") && args.contains(QStringLiteral("--backup")))
        return QStringLiteral("firmware --backup writes one unit's own settings back; run it on "
                              "that unit's port alone");
    if (command.name == QStringLiteral("config save")) {
        QStringList rest = args;
        rest.removeAll(QStringLiteral("--all-nonvol"));
        if (rest.size() == 1 && !rest.first().startsWith(QLatin1String("--"))) {
            const QString file = rest.first();
            if (!hasUnitPlaceholder(file))
                return QStringLiteral(
                           "with several ports, config save FILE must hold {port}, {uid} or "
                           "{sn}, so that each unit saves its own file (%1 would be written by "
                           "every unit)")
                    .arg(file);
            if (!needsIdentity(file)) {
                if (const QString clash =
                        portNameClash(QStringLiteral("FILE"), file, options.ports);
                    !clash.isEmpty())
                    return clash;
            }
        }
    }
    return {};
}

int runManyUnits(const Command& command, const QStringList& args, const CliOptions& options) {
    RigShared shared;
    std::vector<std::unique_ptr<RigUnit>> units;
    for (qsizetype i = 0; i < options.ports.size(); ++i)
        units.push_back(
            std::make_unique<RigUnit>(shared, options.ports.at(i), static_cast<int>(i)));

    // Ctrl+C reaches every unit, each of which puts its unit back in order
    // and ends as it would alone.
    const auto watch = watchSignals([&shared] { shared.interrupted = true; });
    QEventLoop loop;
    size_t running = units.size();
    std::vector<std::unique_ptr<QThread>> threads;
    for (const auto& unit : units) {
        CliOptions o = options;
        o.port = unit->port;
        o.ports = QStringList{unit->port};
        o.unit = unit.get();
        if (!o.logFile.isEmpty())
            o.logFile = expandUnitPlaceholders(o.logFile, {unit->port, {}, {}})
                            .toOptional()
                            .value_or(o.logFile);
        RigUnit* u = unit.get();
        // The session is made, run and destroyed in the unit's thread: its
        // port, timers and link belong there.
        std::unique_ptr<QThread> t(QThread::create([&command, args, o, u] {
            CliSession session(o);
            const int status = command.run(session, args);
            u->status = session.interrupted() ? ExitInterrupted : status;
        }));
        QObject::connect(t.get(), &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
        threads.push_back(std::move(t));
    }
    for (const auto& t : threads)
        t->start();
    loop.exec();
    for (const auto& t : threads)
        t->wait();

    QStringList failed;
    bool interrupted = shared.interrupted;
    bool onlyUsage = true;
    bool compact = false;
    QJsonArray results;
    for (const auto& u : units) {
        results.append(u->result());
        compact = compact || u->compact();
        if (u->status == ExitOk)
            continue;
        failed << u->port;
        interrupted = interrupted || u->status == ExitInterrupted;
        onlyUsage = onlyUsage && u->status == ExitUsage;
    }
    const int status = interrupted        ? ExitInterrupted
                       : failed.isEmpty() ? ExitOk
                       : onlyUsage        ? ExitUsage
                                          : ExitFailed;
    if (options.json) {
        const QJsonObject doc{{QStringLiteral("units"), results},
                              {QStringLiteral("status"), status},
                              {QStringLiteral("failed"), QJsonArray::fromStringList(failed)}};
        shared.print(stdout, QJsonDocument(doc).toJson(compact ? QJsonDocument::Compact
                                                               : QJsonDocument::Indented) +
                                 (compact ? "\n" : ""));
    }
    QString summary;
    if (failed.isEmpty()) {
        summary = QStringLiteral("glimmerpane-cli: all %1 units succeeded.\n").arg(units.size());
    } else {
        summary = QStringLiteral("glimmerpane-cli: %1 of %2 units failed:\n")
                      .arg(failed.size())
                      .arg(units.size());
        for (const auto& u : units) {
            if (u->status == ExitOk)
                continue;
            summary += QStringLiteral("  %1: exit status %2%3\n")
                           .arg(printableText(u->port))
                           .arg(u->status)
                           .arg(u->lastMessage.isEmpty()
                                    ? QString()
                                    : QStringLiteral(": ") + printableText(u->lastMessage));
        }
    }
    shared.print(stderr, summary.toUtf8());
    return status;
}

} // namespace gp::cli
