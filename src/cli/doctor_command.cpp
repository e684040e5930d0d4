// glimmerpane-cli doctor: the machine's serial setup, checked and explained.
#include "cli/cli_session.h"
#include "cli/doctor.h"
#include "platform/port_list.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace gp::cli {

namespace {

int doctor(CliSession& s, const QStringList& args) {
    if (!args.isEmpty()) {
        s.err(QStringLiteral("doctor: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    QStringList names;
    // Every port, those this user may not open too: they are the finding.
    for (const PortEntry& p : ListPorts(true))
        names << p.name;
    // --port names a listed port either way: ttyUSB0 or /dev/ttyUSB0.
    const QString given = s.options().port;
    if (!given.isEmpty() && !names.contains(given) &&
        !names.contains(QString(given).remove(QRegularExpression(QStringLiteral("^/dev/")))))
        names << given;

    const QList<DoctorCheck> checks = diagnose(gatherDoctorFacts(names));
    QJsonArray list;
    bool failed = false;
    for (const DoctorCheck& c : checks) {
        failed = failed || c.status == CheckStatus::Failed;
        s.out(QStringLiteral("%1 %2: %3")
                  .arg(statusWord(c.status).leftJustified(7), c.name, c.finding));
        if (!c.remedy.isEmpty())
            s.out(QStringLiteral("        fix: ") + c.remedy);
        list.append(QJsonObject{{"check", c.name},
                                {"status", statusWord(c.status)},
                                {"finding", c.finding},
                                {"remedy", c.remedy}});
    }
    s.set(QStringLiteral("checks"), list);
    return s.finish(failed ? ExitFailed : ExitOk);
}

} // namespace

QList<Command> doctorCommands() {
    return {{QStringLiteral("doctor"),
             QStringLiteral("doctor                     check this machine's serial ports, "
                            "groups and tools"),
             doctor}};
}

} // namespace gp::cli
