// The headless front end for scripted commissioning: the same batches and
// state machines as the desktop tool, driven from the command line.

#include "cli/cli_session.h"
#include "platform/atomic_file.h"
#include "report/report_pdf.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {
void quitOnSignal(int) {
    QCoreApplication::exit(130);
}

// A report (or a site report) written as PDF needs text layout, hence a
// QGuiApplication; every other command runs on QtCore alone.
bool wantsPdf(int argc, char** argv) {
    bool report = false;
    bool pdf = false;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        report = report || a == QLatin1String("report") || a == QLatin1String("export");
        pdf = pdf || a.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    }
    return report && pdf;
}

// The offscreen platform asks for the runtime folder it never uses; without
// one (a cron job, a service, su) Qt warns about it on stderr. The warning
// says nothing about the report, so it is dropped; every other message goes
// out as Qt formats it.
void dropRuntimeDirWarning(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (msg.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, msg)));
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

int main(int argc, char** argv) {
    gp::ignoreFileSizeLimitSignal();
    std::unique_ptr<QCoreApplication> app;
    if (wantsPdf(argc, argv)) {
        // Nothing is ever shown: no display is needed, nor used.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(dropRuntimeDirWarning);
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("glimmerpane-cli"));
    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGTERM, quitOnSignal);
    QCoreApplication::setApplicationVersion(QStringLiteral(GP_VERSION_TEXT));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args == QStringList{QStringLiteral("--version")}) {
        std::printf("glimmerpane-cli %s\n", GP_VERSION_TEXT);
        return 0;
    }
    return gp::cli::runCli(args, gp::writeReportPdf);
}
