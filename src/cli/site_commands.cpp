// glimmerpane-cli site: check a site plan, apply it to the units connected,
// and read the site record (status, history, diff, merge, export).
#include "cli/cli_session.h"
#include "flash/firmware_backup.h"
#include "link/codec.h"
#include "platform/atomic_file.h"
#include "platform/qt_process_runner.h"
#include "site/site_apply.h"
#include "site/site_export.h"
#include "site/site_plan.h"
#include "site/site_record.h"
#include "site/unit_apply.h"
#include "unit/bulk_transfer.h"
#include "unit/registers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace gp::cli {

namespace {

using site::PlanRow;
using site::SitePlan;
using site::SiteRecord;
using site::Visit;

// A whole-unit read and a load with its read-back take about 20 s at 9600
// baud; far longer means the unit or the line is gone.
constexpr int kApplyTimeoutMs = 1800000; // a firmware update takes minutes

// Lists a plan's problems; answers whether there were none.
bool reportProblems(CliSession& s, const SitePlan& plan) {
    QJsonArray problems;
    for (const site::PlanProblem& p : plan.problems) {
        s.err(
            QStringLiteral("%1: %2").arg(QFileInfo(plan.path).fileName(), p.toString(plan.header)));
        problems.append(QJsonObject{{"line", p.line},
                                    {"column", p.column},
                                    {"columnName", plan.header.value(p.column - 1)},
                                    {"problem", p.text}});
    }
    s.set(QStringLiteral("problems"), problems);
    return plan.problems.isEmpty();
}

std::optional<QString> planArgument(CliSession& s, const QStringList& args, const QString& usage) {
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        s.err(QStringLiteral("usage: glimmerpane-cli ") + usage);
        return std::nullopt;
    }
    return args.first();
}

// The record named by --site, else site.sqlite beside the plan.
bool openRecord(CliSession& s, SiteRecord& record, const std::optional<QString>& site,
                const QString& planPath) {
    const QString where =
        site ? *site : QFileInfo(planPath).absoluteDir().filePath(QStringLiteral("site.sqlite"));
    if (const Status st = record.open(where); !st) {
        s.err(st.error());
        return false;
    }
    return true;
}

int siteCheck(CliSession& s, QStringList args) {
    const auto path = planArgument(s, args, QStringLiteral("site check PLAN.csv"));
    if (!path)
        return s.finish(ExitUsage);
    const SitePlan plan = site::readPlan(*path);
    if (!reportProblems(s, plan))
        return s.finish(ExitFailed);
    s.out(QStringLiteral("%1: %2. No problem found.")
              .arg(QFileInfo(plan.path).fileName(), plan.summary()));
    s.set(QStringLiteral("units"), static_cast<int>(plan.rows.size()));
    s.set(QStringLiteral("buses"), QJsonArray::fromStringList(plan.buses()));
    s.set(QStringLiteral("templates"), QJsonArray::fromStringList(plan.templates()));
    return s.finish(ExitOk);
}

int siteApply(CliSession& s, QStringList args) {
    const auto siteOption = CliSession::takeOption(args, QStringLiteral("--site"));
    const auto engineer = CliSession::takeOption(args, QStringLiteral("--engineer"));
    const auto path = planArgument(
        s, args, QStringLiteral("site apply PLAN.csv [--site FILE|URL] [--engineer NAME]"));
    if (!path)
        return s.finish(ExitUsage);
    const SitePlan plan = site::readPlan(*path);
    if (!reportProblems(s, plan))
        return s.finish(ExitFailed);
    SiteRecord record;
    if (!openRecord(s, record, siteOption, plan.path) || !connectAndIdentify(s))
        return s.finish(ExitFailed);
    QtProcessRunner runner;
    site::UnitApply apply(s.ctx(), plan, record, &runner);
    s.set(QStringLiteral("sn"), serialNumberOf(s.link().state));
    s.set(QStringLiteral("uid"), flash::uniqueIdOf(s.link().state));
    if (!apply.start(s.portName(), engineer.value_or(site::engineerName()))) {
        s.err(apply.failure());
        return s.finish(ExitFailed);
    }
    const Visit& v = apply.visit();
    s.set(QStringLiteral("line"), v.planLine);
    s.set(QStringLiteral("name"), v.name);
    QElapsedTimer clock;
    clock.start();
    qint64 next = 0;
    QString shown;
    s.runUntil(
        [&] {
            if (clock.elapsed() >= next) {
                apply.tick();
                next = clock.elapsed() + apply.intervalMs();
                // The firmware update and profile change say their steps.
                if ((apply.state() == site::UnitApply::State::Firmware ||
                     apply.state() == site::UnitApply::State::Profile) &&
                    apply.activity() != shown)
                    s.progressLine(shown = apply.activity());
            }
            return apply.finished();
        },
        kApplyTimeoutMs);
    if (!apply.finished()) {
        s.err(s.interrupted()
                  ? QStringLiteral("Interrupted: the visit stays recorded as interrupted; apply "
                                   "the plan again to finish the unit.")
                  : QStringLiteral("The apply did not end in time: the visit stays recorded as "
                                   "interrupted."));
        return s.finish(s.interrupted() ? ExitInterrupted : ExitFailed);
    }
    if (!apply.changedSince().isEmpty()) {
        s.out(QStringLiteral("%1 (%2): %3.")
                  .arg(v.sn.isEmpty() ? v.uid : v.sn, v.name, apply.changedSince()));
        s.set(QStringLiteral("changedSinceLeft"), apply.changedSince());
    }
    s.set(QStringLiteral("result"), apply.result());
    s.set(QStringLiteral("record"), record.where());
    s.set(QStringLiteral("writes"), apply.writes());
    if (!apply.failure().isEmpty()) {
        s.set(QStringLiteral("error"), apply.failure());
        s.err(QStringLiteral("%1 (%2): failed: %3")
                  .arg(v.sn.isEmpty() ? v.uid : v.sn, v.name, apply.failure()));
        return s.finish(ExitFailed);
    }
    s.out(
        QStringLiteral("%1 (%2): %3.").arg(v.sn.isEmpty() ? v.uid : v.sn, v.name, apply.result()));
    return s.finish(ExitOk);
}

// The state of a plan row in the record.
QString rowState(const std::optional<Visit>& latest) {
    if (!latest)
        return QStringLiteral("pending");
    if (latest->result == QLatin1String(site::kFailed))
        return QStringLiteral("failed: ") + latest->reason;
    return latest->result;
}

// The unit on the port read whole and compared with its last as-left.
int readAgain(CliSession& s, const SitePlan& plan, const SiteRecord& record) {
    if (!connectAndIdentify(s))
        return ExitFailed;
    const QStringList lost = s.readFrames(readAllFrames());
    const DeviceState& st = s.link().state;
    const QString sn = serialNumberOf(st);
    const QString uid = flash::uniqueIdOf(st);
    const PlanRow* row = plan.rowFor(sn, uid, s.portName());
    const QString unit = sn.isEmpty() ? uid : sn;
    if (!row) {
        s.err(QStringLiteral("The unit on %1 (sn %2, uid %3) has no row in the plan.")
                  .arg(s.portName(), sn.isEmpty() ? QStringLiteral("none") : sn, uid));
        return ExitFailed;
    }
    const auto visits = record.visitsOf(sn, uid);
    if (!visits) {
        s.err(visits.error());
        return ExitFailed;
    }
    const auto previous = site::previousVisit(*visits, QString());
    QString said;
    if (!previous)
        said = QStringLiteral("never left by an apply");
    else if (const QString changed = site::changedSinceText(previous, site::registersOf(st));
             !changed.isEmpty())
        said = changed;
    else
        said = QStringLiteral("as left on %1")
                   .arg(previous->ended.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
    if (!lost.isEmpty())
        said += QStringLiteral(" (not read: %1)").arg(lost.join(u' '));
    s.out(
        QStringLiteral("Read now: line %1  %2  %3: %4").arg(row->line).arg(unit, row->name, said));
    s.set(QStringLiteral("readNow"), said);
    return lost.isEmpty() ? ExitOk : ExitFailed;
}

int siteStatus(CliSession& s, QStringList args) {
    const auto siteOption = CliSession::takeOption(args, QStringLiteral("--site"));
    const bool read = CliSession::takeFlag(args, QStringLiteral("--read"));
    const auto path =
        planArgument(s, args, QStringLiteral("site status PLAN.csv [--site FILE|URL] [--read]"));
    if (!path)
        return s.finish(ExitUsage);
    const SitePlan plan = site::readPlan(*path);
    if (!reportProblems(s, plan))
        return s.finish(ExitFailed);
    SiteRecord record;
    if (!openRecord(s, record, siteOption, plan.path))
        return s.finish(ExitFailed);
    QJsonArray rows;
    int pending = 0;
    for (const PlanRow& row : plan.rows) {
        const auto visits = record.visitsOf(row.sn, row.uid);
        if (!visits) {
            s.err(visits.error());
            return s.finish(ExitFailed);
        }
        const auto latest =
            visits->isEmpty() ? std::optional<Visit>() : std::optional<Visit>(visits->last());
        const QString state = rowState(latest);
        if (state != QLatin1String(site::kDone) && state != QLatin1String(site::kAlreadyAsPlanned))
            ++pending;
        // The unit read again (by the latest apply) held other settings than
        // it was left with before.
        const QString changed =
            latest
                ? site::changedSinceText(site::previousVisit(*visits, latest->key), latest->found)
                : QString();
        s.out(QStringLiteral("line %1  %2  %3: %4%5")
                  .arg(row.line)
                  .arg(row.key(), row.name, state,
                       changed.isEmpty() ? QString() : QStringLiteral(" (found %1)").arg(changed)));
        QJsonObject o{
            {"line", row.line}, {"unit", row.key()}, {"name", row.name}, {"state", state}};
        if (!changed.isEmpty())
            o.insert(QStringLiteral("foundChanged"), changed);
        rows.append(o);
    }
    s.set(QStringLiteral("rows"), rows);
    s.set(QStringLiteral("open"), pending);
    if (read)
        return s.finish(readAgain(s, plan, record));
    return s.finish(ExitOk);
}

std::optional<QList<Visit>> unitVisits(CliSession& s, QStringList& args, const QString& usage) {
    const auto siteOption = CliSession::takeOption(args, QStringLiteral("--site"));
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        s.err(QStringLiteral("usage: glimmerpane-cli ") + usage);
        return std::nullopt;
    }
    SiteRecord record;
    if (!openRecord(s, record, siteOption.value_or(QStringLiteral("site.sqlite")),
                    QStringLiteral("site.sqlite")))
        return std::nullopt;
    const auto visits = record.visits(args.first());
    if (!visits) {
        s.err(visits.error());
        return std::nullopt;
    }
    if (visits->isEmpty()) {
        s.err(QStringLiteral("%1 has no visit of %2.").arg(record.where(), args.first()));
        return std::nullopt;
    }
    return *visits;
}

QString changesText(const Visit& v) {
    const QList<int> changed = site::changedRegisters(v.found, v.left);
    if (changed.isEmpty())
        return QStringLiteral("nothing changed");
    QStringList names;
    for (int r : changed)
        names << cfgRegisterLabel(r);
    return QStringLiteral("changed %1").arg(names.join(QStringLiteral(", ")));
}

int siteHistory(CliSession& s, QStringList args) {
    const auto visits =
        unitVisits(s, args, QStringLiteral("site history SN|UID [--site FILE|URL]"));
    if (!visits)
        return s.finish(ExitFailed);
    QJsonArray out;
    for (const Visit& v : *visits) {
        s.out(QStringLiteral("%1  %2  %3 on %4, firmware %5: %6; %7")
                  .arg(v.started.toString(Qt::ISODate), v.engineer, v.sn, v.port, v.firmware,
                       v.result, changesText(v)));
        out.append(QJsonObject{{"started", v.started.toString(Qt::ISODateWithMs)},
                               {"ended", v.ended.toString(Qt::ISODateWithMs)},
                               {"engineer", v.engineer},
                               {"port", v.port},
                               {"firmware", v.firmware},
                               {"result", v.result},
                               {"reason", v.reason},
                               {"changed", regArray(site::changedRegisters(v.found, v.left))}});
    }
    s.set(QStringLiteral("visits"), out);
    return s.finish(ExitOk);
}

int siteDiff(CliSession& s, QStringList args) {
    const auto visits = unitVisits(s, args, QStringLiteral("site diff SN|UID [--site FILE|URL]"));
    if (!visits)
        return s.finish(ExitFailed);
    // The latest visit that wrote, else the latest of all.
    const auto wrote = std::find_if(visits->rbegin(), visits->rend(), [](const Visit& x) {
        return !site::changedRegisters(x.found, x.left).isEmpty();
    });
    const Visit& v = wrote != visits->rend() ? *wrote : visits->last();
    QJsonArray out;
    for (int r : site::changedRegisters(v.found, v.left)) {
        const auto text = [](const std::optional<int32_t>& x) {
            return x ? HexLong(*x) : QStringLiteral("not read");
        };
        const QString found = text(v.found[size_t(r)]);
        const QString left = text(v.left[size_t(r)]);
        s.out(QStringLiteral("%1: found %2, left %3").arg(cfgRegisterLabel(r), found, left));
        out.append(QJsonObject{{"register", HexByte(r)}, {"found", found}, {"left", left}});
    }
    if (out.isEmpty())
        s.out(QStringLiteral("As found and as left are the same (%1).").arg(v.result));
    s.set(QStringLiteral("differences"), out);
    return s.finish(ExitOk);
}

int siteMerge(CliSession& s, QStringList args) {
    const auto siteOption = CliSession::takeOption(args, QStringLiteral("--site"));
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        s.err(QStringLiteral("usage: glimmerpane-cli site merge OTHER [--site FILE|URL]"));
        return s.finish(ExitUsage);
    }
    SiteRecord ours;
    SiteRecord theirs;
    if (!openRecord(s, ours, siteOption.value_or(QStringLiteral("site.sqlite")),
                    QStringLiteral("site.sqlite")) ||
        !openRecord(s, theirs, args.first(), args.first()))
        return s.finish(ExitFailed);
    const auto added = ours.merge(theirs);
    if (!added) {
        s.err(added.error());
        return s.finish(ExitFailed);
    }
    s.out(QStringLiteral("%1 visit(s) brought in from %2.").arg(*added).arg(args.first()));
    s.set(QStringLiteral("added"), *added);
    return s.finish(ExitOk);
}

int siteExport(CliSession& s, QStringList args) {
    const auto siteOption = CliSession::takeOption(args, QStringLiteral("--site"));
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        s.err(QStringLiteral("usage: glimmerpane-cli site export FILE.csv|.html|.pdf "
                             "[--site FILE|URL]"));
        return s.finish(ExitUsage);
    }
    const QString path = args.first();
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("html") &&
        suffix != QLatin1String("pdf")) {
        s.err(QStringLiteral("site export writes .csv, .html or .pdf; %1 is none of them.")
                  .arg(path));
        return s.finish(ExitUsage);
    }
    SiteRecord record;
    if (!openRecord(s, record, siteOption.value_or(QStringLiteral("site.sqlite")),
                    QStringLiteral("site.sqlite")))
        return s.finish(ExitFailed);
    const auto visits = record.visits();
    if (!visits) {
        s.err(visits.error());
        return s.finish(ExitFailed);
    }
    const QList<Visit> units = site::latestPerUnit(*visits);
    const QString title = QStringLiteral("Site report: %1").arg(record.where());
    Status written;
    if (suffix == QLatin1String("csv"))
        written = writeFileAtomically(path, site::siteReportCsv(units));
    else if (suffix == QLatin1String("html"))
        written = writeFileAtomically(path, site::siteReportHtml(units, title).toUtf8());
    else if (!s.options().writePdf)
        written = fail(QStringLiteral("This program cannot write PDF files."));
    else
        written = s.options().writePdf(path, site::siteReportHtml(units, title));
    if (!written) {
        s.err(written.error());
        return s.finish(ExitFailed);
    }
    s.out(QStringLiteral("Wrote %1: %2 unit(s).").arg(path).arg(units.size()));
    s.set(QStringLiteral("file"), path);
    s.set(QStringLiteral("units"), static_cast<int>(units.size()));
    return s.finish(ExitOk);
}

} // namespace

QList<Command> siteCommands() {
    return {
        {QStringLiteral("site check"),
         QStringLiteral("site check PLAN.csv         check a site plan before anything is sent"),
         siteCheck,
         QStringLiteral("Lists every problem of the plan with its line and column (unknown\n"
                        "column, value out of range, a template or image missing, the same sn\n"
                        "or uid twice, one address twice on a bus, one device id twice), then\n"
                        "exits 1; a plan without problems prints its summary.")},
        {QStringLiteral("site apply"),
         QStringLiteral("site apply PLAN.csv         give each connected unit its row's settings"),
         siteApply,
         QStringLiteral(
             "For each unit connected (--port may be repeated): reads its identity and finds\n"
             "its row (a unit with none is refused), records it as found, loads the template\n"
             "with the row's bus settings and device id, reads every register written back,\n"
             "and records it as left. A unit already as planned is recorded and not written.\n"
             "  --site FILE|URL  the record: a SQLite file (site.sqlite beside the plan) or\n"
             "                   postgresql://HOST[:PORT]/DB (user and password from PGUSER,\n"
             "                   PGPASSWORD or ~/.pgpass)\n"
             "  --engineer NAME  who did it (the login name when not given)")},
        {QStringLiteral("site status"),
         QStringLiteral("site status PLAN.csv [--read]  each plan row: pending, done, failed, ..."),
         siteStatus,
         QStringLiteral(
             "Each plan row's state in the record: pending, done, already as planned,\n"
             "failed with its reason, interrupted; a row whose unit was found by its latest\n"
             "apply with other settings than it was left with before says which.\n"
             "  --site FILE|URL   the record (default: site.sqlite beside the plan)\n"
             "  --read            also read the unit on --port and compare it with its\n"
             "                    last as-left")},
        {QStringLiteral("site history"),
         QStringLiteral("site history SN|UID         every visit of a unit, with what changed"),
         siteHistory},
        {QStringLiteral("site diff"),
         QStringLiteral("site diff SN|UID            a unit as found against as left, by register"),
         siteDiff},
        {QStringLiteral("site merge"),
         QStringLiteral("site merge OTHER            bring in another laptop's site record"),
         siteMerge},
        {QStringLiteral("site export"),
         QStringLiteral("site export FILE            the site report (.csv, .html or .pdf)"),
         siteExport},
    };
}

} // namespace gp::cli
