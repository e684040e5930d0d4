// "profile FILE" and "firmware FILE [--no-logo]": the guided runs of the
// desktop tool, with the prompts answered from the command line.
#include "cli/cli_prompts.h"
#include "cli/cli_session.h"
#include "config/profile_change.h"
#include "flash/firmware_update.h"
#include "platform/qt_process_runner.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace gp::cli {

namespace {

// Runs a machine at its own interval until it rests, printing each new
// step text.
template <typename Machine> int runMachine(CliSession& s, Machine& m, int timeoutMs) {
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
                if (m.stepText() != shown) {
                    shown = m.stepText();
                    s.out(shown);
                }
            }
            return m.state() == 0 || m.state() == -2;
        },
        timeoutMs);
    return m.state() == -2 ? ExitOk : ExitFailed;
}

int needFile(CliSession& s, const QStringList& args, const char* usage) {
    if (args.size() != 1) {
        s.err(QStringLiteral("usage: %1").arg(QLatin1String(usage)));
        return ExitUsage;
    }
    if (!QFileInfo(args[0]).isReadable()) {
        s.err(QStringLiteral("cannot read %1").arg(args[0]));
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
             if (!s.options().yes) {
                 s.err(QStringLiteral("a profile change needs --yes"));
                 return s.finish(ExitUsage);
             }
             if (!s.connect())
                 return s.finish(ExitFailed);
             if (auto* p = dynamic_cast<CliPrompts*>(&s.ctx().prompts))
                 p->files << args[0];
             ProfileChange change(s.ctx());
             return s.finish(runMachine(s, change, 600000));
         }},
        {QStringLiteral("firmware"),
         QStringLiteral("firmware FILE [--no-logo]   guided firmware update"),
         [](CliSession& s, QStringList args) {
             const bool noLogo = CliSession::takeFlag(args, QStringLiteral("--no-logo"));
             if (const int bad = needFile(s, args, "firmware FILE [--no-logo]"))
                 return s.finish(bad);
             if (!s.options().yes) {
                 s.err(QStringLiteral("a firmware update needs --yes"));
                 return s.finish(ExitUsage);
             }
             if (!s.connect())
                 return s.finish(ExitFailed);
             if (auto* p = dynamic_cast<CliPrompts*>(&s.ctx().prompts))
                 p->files << args[0];
             QtProcessRunner runner;
             FirmwareUpdate update(s.ctx(), runner);
             update.noLogo = noLogo;
             update.onToolLine = [&](const QString& line) { s.err(line); };
             return s.finish(runMachine(s, update, 1800000));
         }},
    };
}

} // namespace gp::cli
