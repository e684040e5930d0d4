// The commissioning report: reads the unit (identity, every register, the
// calibration, the CO2 sensor when fitted) and writes one document, PDF when
// the file name ends in ".pdf", HTML otherwise. A lost reply fails the
// report and no file is written.
#include "cli/cli_session.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "report/commissioning_report.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimer>

namespace gp::cli {

namespace {

constexpr int kReportTimeoutMs = 180000;

int report(CliSession& s, const QStringList& args) {
    if (args.size() != 1) {
        s.err(QStringLiteral("report: needs one FILE (.pdf for a PDF, HTML otherwise)"));
        return s.finish(ExitUsage);
    }
    const QString path = args.first();
    const bool pdf = path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    if (pdf && !s.options().writePdf) {
        s.err(QStringLiteral("report: this build cannot write PDF; give a .html file"));
        return s.finish(ExitUsage);
    }
    if (!s.connect())
        return s.finish(ExitFailed);

    Co2Channel channel(s.link());
    Co2Link& co2 = channel.link;
    CommissioningReportRead read(s.link(), &channel.link, &channel.settings);
    QTimer timer;
    timer.setInterval(CommissioningReportRead::kTickMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // The sensor's sequences run at the same 100 ms as the report.
        co2.tick();
        read.tick();
    });
    timer.start();
    s.runUntil([&] { return read.finished(); }, kReportTimeoutMs);
    if (!read.finished())
        read.cancel();
    // Time for the sensor's last lines and the end of the pass-through to
    // leave before the port closes.
    s.runFor(300);
    timer.stop();
    if (!read.ok()) {
        s.err(s.interrupted() ? QStringLiteral("Interrupted; no report was made.")
                              : read.failure());
        return s.finish(ExitFailed);
    }

    ReportHeader header;
    header.when = QDateTime::currentDateTime();
    header.toolVersion = QStringLiteral(GP_VERSION_TEXT);
    header.port = s.link().serial.port() ? s.link().serial.port()->name() : QString();
    const CommissioningReport r = buildCommissioningReport(
        s.link().state, s.ctx().lang, header, read.co2Read() ? &channel.settings.fields() : nullptr,
        read.gaps());
    const QString html = commissioningReportHtml(r);
    const Status written =
        pdf ? s.options().writePdf(path, html) : writeReportFile(path, html.toUtf8());
    if (!written) {
        s.err(written.error());
        return s.finish(ExitFailed);
    }
    s.set(QStringLiteral("file"), path);
    if (read.incomplete()) {
        // The document is written all the same: the visit needs it most
        // when something is wrong. It says so on its first line.
        const QStringList parts = incompleteParts(read.gaps());
        s.out(QStringLiteral("Report written to %1, incomplete.").arg(path));
        s.err(QStringLiteral("Incomplete: not read: %1.").arg(parts.join(QStringLiteral(", "))));
        s.set(QStringLiteral("incomplete"), QJsonArray::fromStringList(parts));
        if (!r.cfgSha256.isEmpty())
            s.set(QStringLiteral("cfgSha256"), r.cfgSha256);
        return s.finish(ExitFailed);
    }
    s.out(QStringLiteral("Report written to %1").arg(path));
    s.out(QStringLiteral("cfg SHA-256 %1").arg(r.cfgSha256));
    s.set(QStringLiteral("cfgSha256"), r.cfgSha256);
    return s.finish(ExitOk);
}

} // namespace

QList<Command> reportCommands() {
    return {
        {QStringLiteral("report"),
         QStringLiteral("report FILE                the commissioning report (PDF for .pdf, "
                        "else HTML)"),
         report,
         QStringLiteral(
             "Reads the unit and writes the commissioning report to FILE: PDF when FILE ends\n"
             "in .pdf, HTML otherwise.")},
    };
}

} // namespace gp::cli
