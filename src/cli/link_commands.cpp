// Commands of the link itself: the ports on offer and a single frame.
#include "cli/cli_session.h"
#include "link/codec.h"
#include "link/frame_kind.h"
#include "platform/port_list.h"

#include <QJsonArray>

namespace gp::cli {

namespace {

int ports(CliSession& s, const QStringList&) {
    QJsonArray list;
    for (const PortEntry& p : ListPorts()) {
        s.out(p.description.isEmpty() ? p.name : p.name + '\t' + p.description);
        list.append(QJsonObject{{"name", p.name}, {"description", p.description}, {"usb", p.usb}});
    }
    s.set(QStringLiteral("ports"), list);
    return s.finish(ExitOk);
}

int send(CliSession& s, const QStringList& args) {
    if (args.size() != 1 || !IsCommandFrame(args.first())) {
        s.err(QStringLiteral("send: '%1' is not a command frame (like :R01# or :W0102000030#); "
                             "nothing was sent.")
                  .arg(args.join(' ')));
        return s.finish(ExitUsage);
    }
    if (!s.connect())
        return s.finish(ExitFailed);
    // A read or a register write whose reply was lost (a late reply on a busy
    // machine, a noisy line) is sent again, at most twice.
    const QString frame = args.first();
    const bool idempotent = RepeatsHarmlessly(frame);
    bool answered = false;
    for (int attempt = 0; attempt < (idempotent ? 3 : 1) && !answered && !s.interrupted();
         ++attempt) {
        const int id = s.link().startBatch({frame});
        answered = s.waitBatch(5000) && !s.link().poll.outcome(id).displaced;
    }
    if (!answered) {
        s.err(QStringLiteral("The unit did not answer %1.").arg(args.first()));
        return s.finish(ExitFailed);
    }
    const QString reply = s.link().poll.stats().lastAnswer;
    s.out(reply);
    s.set(QStringLiteral("frame"), args.first());
    s.set(QStringLiteral("reply"), reply);
    return s.finish(ExitOk);
}

} // namespace

QList<Command> linkCommands() {
    return {
        {QStringLiteral("ports"), QStringLiteral("ports                      the ports on offer"),
         ports},
        {QStringLiteral("send"),
         QStringLiteral("send FRAME                 send one command frame, print the reply"),
         send},
    };
}

} // namespace gp::cli
