#include "gui/report_window.h"

#include "co2/co2_settings.h"
#include "report/report_pdf.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace gp {

namespace {
const QString kTitle = QStringLiteral("Commissioning Report");
}

ReportWindow::ReportWindow(AppContext& ctx, Co2Link* co2, Co2Settings* co2Settings, QWidget* parent)
    : QDialog(parent), ctx_(ctx), co2_(co2), co2Settings_(co2Settings) {
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(kTitle);
    auto* l = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LabelReportStatus"));
    status_->setMinimumWidth(360);
    status_->setWordWrap(true);
    l->addWidget(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    l->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        if (read_)
            read_->cancel();
        reject();
    });
    timer_.setInterval(CommissioningReportRead::kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!read_)
            return;
        read_->tick();
        status_->setText(ctx_.lang.translate(read_->status()));
        if (read_->finished())
            finishRead();
    });
}

ReportWindow::~ReportWindow() {
    timer_.stop();
    if (read_)
        read_->cancel();
}

QString ReportWindow::run() {
    path_ = ctx_.prompts.saveFile(kTitle, QStringLiteral("HTML report{*.html)|*.html|PDF "
                                                         "report{*.pdf)|*.pdf"));
    if (path_.isEmpty())
        return QString();
    if (!path_.contains(QLatin1Char('.'))) // no extension typed: HTML
        path_ += QStringLiteral(".html");
    // The register reads need the line to the unit itself and no live poll
    // in between: the Device view asks for neither.
    ctx_.tabs.SelectTab(TabDevice);
    read_ = std::make_unique<CommissioningReportRead>(ctx_.link, co2_, co2Settings_);
    status_->setText(ctx_.lang.translate(read_->status()));
    timer_.start();
    exec();
    timer_.stop();
    return written_;
}

void ReportWindow::finishRead() {
    timer_.stop();
    if (!read_->ok()) {
        failure_ = read_->failure();
        if (failure_ != QLatin1String("The report was cancelled."))
            ctx_.prompts.message(kTitle, failure_, MessageKind::Warning);
        reject();
        return;
    }
    ReportHeader header;
    header.when = QDateTime::currentDateTime();
    header.toolVersion = QStringLiteral(GP_VERSION_TEXT);
    header.port = ctx_.link.serial.port() ? ctx_.link.serial.port()->name() : QString();
    const CommissioningReport r = buildCommissioningReport(
        ctx_.link.state, ctx_.lang, header, read_->co2Read() ? &co2Settings_->fields() : nullptr,
        read_->gaps());
    const QString html = commissioningReportHtml(r);
    const Status written = path_.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
                               ? writeReportPdf(path_, html)
                               : writeReportFile(path_, html.toUtf8());
    if (!written) {
        failure_ = written.error();
        ctx_.prompts.message(kTitle, failure_, MessageKind::Warning);
        reject();
        return;
    }
    written_ = path_;
    if (read_->incomplete()) {
        // Written all the same, and it says so on its first line.
        ctx_.prompts.message(
            kTitle,
            QStringLiteral("Report written to %1, but it is incomplete: the unit did not answer "
                           "for %2.")
                .arg(path_, incompleteParts(read_->gaps()).join(QStringLiteral(", "))),
            MessageKind::Warning);
    } else {
        ctx_.prompts.message(kTitle, QStringLiteral("Report written to %1").arg(path_),
                             MessageKind::Plain);
    }
    accept();
}

} // namespace gp
