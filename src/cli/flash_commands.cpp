// "profile FILE", "firmware FILE [--no-logo]" and "restore BACKUP.cfg
// [--logo BACKUP.lgo]": the guided runs of the desktop tool, with the prompts
// answered from the command line.
#include "cli/cli_prompts.h"
#include "cli/cli_session.h"
#include "config/profile_change.h"
#include "flash/backup_restore.h"
#include "flash/firmware_update.h"
#include "link/codec.h"
#include "platform/qt_process_runner.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace gp::cli {

namespace {

// The step a machine is at, named: its activity, or how it ended.
template <typename Machine> QString stepName(const Machine& m) {
    if (m.succeeded())
        return QStringLiteral("complete");
    const QString a = m.activity();
    return a.isEmpty() ? QStringLiteral("ended") : a;
}

// One line per step, as it happens; with --json one compact object a line.
void printStep(CliSession& s, const QString& step, const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(u'\n', u' ');
    line.replace(u'\r', u' ');
    line = line.simplified();
    if (!s.options().json) {
        s.out(line);
        return;
    }
    QJsonObject o{{QStringLiteral("step"), step}};
    if (line != step)
        o.insert(QStringLiteral("text"), line);
    s.stepLine(o);
}

// Runs a machine at its own interval until it rests, printing each new
// step: its step text, or (byActivity) what it does in words, which leaves
// out the window's own prompts ("Press "start" to begin.").
template <typename Machine>
int runMachine(CliSession& s, Machine& m, int timeoutMs,
               const std::function<void()>& afterTick = {}, bool byActivity = false) {
    QString shown;
    qint64 next = 0;
    QElapsedTimer clock;
    clock.start();
    m.clickButton();
    s.runUntil(
        [&] {
            if (clock.elapsed() >= next) {
                m.tick();
                next = clock.elapsed() + m.intervalMs();
                const QString now = byActivity ? m.activity() : m.stepText();
                if (now != shown && !now.isEmpty()) {
                    shown = now;
                    printStep(s, stepName(m), shown);
                }
                if (afterTick)
                    afterTick();
            }
            return m.finished();
        },
        timeoutMs);
    if (byActivity && m.succeeded())
        printStep(s, stepName(m), m.stepText());
    // The closing document is one compact line after the step lines.
    s.setCompactJson(true);
    return m.succeeded() ? ExitOk : ExitFailed;
}

int needFile(CliSession& s, const QStringList& args, const char* usage) {
    if (args.size() != 1) {
        s.err(QStringLiteral("usage: %1").arg(QLatin1String(usage)));
        return ExitUsage;
    }
    // Why not, in the system's words: no such file, permission denied.
    if (QFile f(args[0]); !f.open(QIODevice::ReadOnly)) {
        s.err(QStringLiteral("cannot read %1: %2").arg(args[0], f.errorString()));
        return ExitUsage;
    }
    return ExitOk;
}

} // namespace

QList<Command> flashCommands() {
    return {
        {QStringLiteral("profile"), QStringLiteral("profile FILE   change the unit's profile"),
         [](CliSession& s, QStringList args) {
             if (const int bad = needFile(s, args, "profile FILE"))
                 return s.finish(bad);
             if (const auto refused = s.confirm(
                     QStringLiteral("The unit's profile changes to %1: the unit is put back to "
                                    "its factory settings for that profile and restarted.")
                         .arg(args[0])))
                 return s.finish(*refused);
             if (!s.connect())
                 return s.finish(ExitFailed);
             if (auto* p = dynamic_cast<CliPrompts*>(&s.ctx().prompts))
                 p->files << args[0];
             ProfileChange change(s.ctx());
             return s.finish(runMachine(s, change, 600000, {}, true));
         },
         QStringLiteral("The guided profile change with the profile FILE (.pro): the unit's\n"
                        "settings are read, register 01 takes the profile's value, the unit\n"
                        "goes back to its defaults and restarts, and 01 is checked. Asks first\n"
                        "on a terminal; --yes answers (needed without one).")},
        {QStringLiteral("firmware"),
         QStringLiteral("firmware FILE [--no-logo] [--backup BACKUP.cfg]   guided firmware "
                        "update (--backup: the settings of a unit left in its boot loader)"),
         [](CliSession& s, QStringList args) {
             const bool noLogo = CliSession::takeFlag(args, QStringLiteral("--no-logo"));
             // A unit left in its boot loader: the backup that carries its
             // settings (its .lgo beside it carries the logo).
             const auto fromBackup = CliSession::takeOption(args, QStringLiteral("--backup"));
             if (const int bad =
                     needFile(s, args, "firmware FILE [--no-logo] [--backup BACKUP.cfg]"))
                 return s.finish(bad);
             if (fromBackup && !QFileInfo(*fromBackup).isReadable()) {
                 s.err(QStringLiteral("cannot read %1").arg(*fromBackup));
                 return s.finish(ExitUsage);
             }
             if (const auto refused = s.confirm(
                     QStringLiteral("The unit's firmware is replaced by %1; its settings and "
                                    "logo are backed up first and written back after.")
                         .arg(args[0])))
                 return s.finish(*refused);
             if (!s.connect())
                 return s.finish(ExitFailed);
             if (auto* p = dynamic_cast<CliPrompts*>(&s.ctx().prompts))
                 p->files << args[0];
             QtProcessRunner runner;
             FirmwareUpdate update(s.ctx(), runner);
             update.noLogo = noLogo;
             if (fromBackup) {
                 QString lgo = fromBackup->chopped(4) + QStringLiteral(".lgo");
                 if (!fromBackup->endsWith(QLatin1String(".cfg")) || !QFileInfo::exists(lgo))
                     lgo.clear();
                 update.offeredBackup = flash::Backup{*fromBackup, lgo};
             }
             update.onToolLine = [&](const QString& line) { s.err(line); };
             // One overall line, "step n of m", drawn when the step changes:
             // the flashing tool's own lines (and its bar) are printed as
             // they come, each after a newline that ends this line.
             s.setBatchProgress(false);
             QString overall;
             const int status = runMachine(s, update, 1800000, [&] {
                 const int n = update.stepNumber();
                 const QString line = n == 0 ? QString()
                                             : QStringLiteral("step %1 of %2: %3")
                                                   .arg(n)
                                                   .arg(FirmwareUpdate::kStepCount)
                                                   .arg(update.activity());
                 if (line != overall && !update.toolRunning()) {
                     overall = line;
                     if (!line.isEmpty())
                         s.progressLine(line);
                 }
             });
             QJsonArray unconfirmed;
             for (const QString& u : update.unconfirmed())
                 unconfirmed << u;
             s.set(QStringLiteral("unconfirmed"), unconfirmed);
             const auto& b = update.backup();
             s.set(QStringLiteral("backup"),
                   b ? QJsonValue(QJsonObject{{QStringLiteral("cfg"), b->cfg},
                                              {QStringLiteral("lgo"), b->lgo}})
                     : QJsonValue());
             s.set(QStringLiteral("toolVersion"), update.toolVersion());
             s.set(QStringLiteral("step"), update.stepText());
             return s.finish(status);
         },
         QStringLiteral(
             "The guided firmware update with the image FILE (.bin) through bossac; asks\n"
             "first on a terminal, --yes answers (needed without one). Saves the settings (and the "
             "logo), flashes, writes them back, checks.\n"
             "  --no-logo              leave the logo out of the backup and the write-back\n"
             "  --backup BACKUP.cfg    a unit left in its boot loader: the settings to write\n"
             "                         back (its .lgo beside it carries the logo)")},
        {QStringLiteral("restore"),
         QStringLiteral("restore BACKUP.cfg [--logo BACKUP.lgo]   write a firmware update's "
                        "backup back"),
         [](CliSession& s, QStringList args) {
             const auto logo = CliSession::takeOption(args, QStringLiteral("--logo"));
             if (const int bad = needFile(s, args, "restore BACKUP.cfg [--logo BACKUP.lgo]"))
                 return s.finish(bad);
             if (logo && !QFileInfo(*logo).isReadable()) {
                 s.err(QStringLiteral("cannot read %1").arg(*logo));
                 return s.finish(ExitUsage);
             }
             if (!s.connect())
                 return s.finish(ExitFailed);
             BackupRestore restore(s.link());
             const QString refused = restore.start(args[0], logo.value_or(QString()));
             if (!refused.isEmpty()) {
                 s.err(refused);
                 return s.finish(ExitUsage);
             }
             QString shown;
             s.runUntil(
                 [&] {
                     restore.tick();
                     if (restore.stepText() != shown) {
                         shown = restore.stepText();
                         s.out(shown);
                     }
                     return restore.finished();
                 },
                 1800000);
             if (!restore.finished()) {
                 s.err(QStringLiteral("the restore did not end"));
                 return s.finish(ExitFailed);
             }
             const RestoreReport& rep = restore.report();
             if (rep.writes == 0)
                 s.err(restore.stepText());
             QJsonArray regs;
             for (int r : rep.unconfirmed)
                 regs << HexByte(r);
             QJsonArray words;
             for (int w : rep.logoUnconfirmed)
                 words << HexByte(w);
             s.set(QStringLiteral("writes"), rep.writes);
             s.set(QStringLiteral("confirmed"), rep.confirmed);
             s.set(QStringLiteral("unconfirmed"), regs);
             s.set(QStringLiteral("logoWrites"), rep.logoWrites);
             s.set(QStringLiteral("logoConfirmed"), rep.logoConfirmed);
             s.set(QStringLiteral("logoUnconfirmed"), words);
             s.set(QStringLiteral("settingsStored"), rep.settingsStored);
             return s.finish(restore.succeeded() ? ExitOk : ExitFailed);
         },
         QStringLiteral("Writes a firmware update's backup back to the unit.\n"
                        "  --logo BACKUP.lgo      the logo to write back too")},
    };
}

} // namespace gp::cli
