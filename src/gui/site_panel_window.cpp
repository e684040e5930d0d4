#include "gui/site_panel_window.h"

#include "app/app_context.h"
#include "flash/firmware_backup.h"
#include "site/site_apply.h"
#include "site/unit_apply.h"
#include "unit/registers.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

namespace {

enum Column { Line, Name, Unit, Bus, Address, DeviceId, Template, State, Columns };

// The firmware and profile lines of the question, when the row names them.
QString guidedRuns(const site::PlanRow& r) {
    QString lines;
    if (!r.firmware.isEmpty())
        lines += QStringLiteral("\nFirmware: %1 (flashed when the unit runs another; its "
                                "settings are backed up first)")
                     .arg(r.firmware);
    if (!r.profile.isEmpty())
        lines += QStringLiteral("\nProfile: %1 (changed when the unit has another)").arg(r.profile);
    return lines;
}

QString optionalNumber(const std::optional<int>& v, const QString& none) {
    return v ? QString::number(*v) : none;
}

} // namespace

SitePanelWindow::SitePanelWindow(AppContext& ctx, const QString& planPath, QWidget* parent)
    : QDialog(parent), ctx_(ctx), plan_(site::readPlan(planPath)) {
    setObjectName(QStringLiteral("sitePanel"));
    setWindowTitle(QStringLiteral("Site Plan: %1").arg(QFileInfo(planPath).fileName()));
    if (!plan_.ok()) {
        QStringList lines;
        for (const site::PlanProblem& p : plan_.problems)
            lines << p.toString(plan_.header);
        error_ = QStringLiteral("The plan has %1 problem(s); nothing was sent:\n%2")
                     .arg(lines.size())
                     .arg(lines.join(u'\n'));
        return;
    }
    const QString where =
        QFileInfo(plan_.path).absoluteDir().filePath(QStringLiteral("site.sqlite"));
    if (const Status opened = record_.open(where); !opened) {
        error_ = opened.error();
        return;
    }
    auto* layout = new QVBoxLayout(this);
    unit_ = new QLabel(this);
    unit_->setObjectName(QStringLiteral("connectedUnit"));
    unit_->setWordWrap(true);
    layout->addWidget(unit_);
    table_ = new QTableWidget(static_cast<int>(plan_.rows.size()), Columns, this);
    table_->setObjectName(QStringLiteral("planRows"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Line"), QStringLiteral("Name"),
                                       QStringLiteral("Unit"), QStringLiteral("Bus"),
                                       QStringLiteral("Address"), QStringLiteral("Device id"),
                                       QStringLiteral("Template"), QStringLiteral("State")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int i = 0; i < plan_.rows.size(); ++i) {
        const site::PlanRow& r = plan_.rows[i];
        const QStringList cells{QString::number(r.line),
                                r.name,
                                r.key(),
                                r.bus,
                                optionalNumber(r.address, QStringLiteral("template's")),
                                optionalNumber(r.deviceId, QStringLiteral("template's")),
                                QFileInfo(r.templatePath).fileName(),
                                QString()};
        for (int c = 0; c < Columns; ++c)
            table_->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();
    layout->addWidget(table_, 1);
    status_ = new QLabel(QStringLiteral("%1. Record: %2").arg(plan_.summary(), where), this);
    status_->setObjectName(QStringLiteral("siteStatus"));
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* buttons = new QHBoxLayout;
    applyButton_ = new QPushButton(QStringLiteral("Apply to connected unit"), this);
    applyButton_->setObjectName(QStringLiteral("applySite"));
    auto* history = new QPushButton(QStringLiteral("History"), this);
    history->setObjectName(QStringLiteral("siteHistory"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(applyButton_);
    buttons->addWidget(history);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(applyButton_, &QPushButton::clicked, this, [this] { applyToConnectedUnit(); });
    connect(history, &QPushButton::clicked, this, &SitePanelWindow::showHistory);
    connect(close, &QPushButton::clicked, this, &SitePanelWindow::reject);
    resize(820, 420);
    refreshStates();
    followIdentity();
    timer_ = new QTimer(this);
    timer_->setInterval(kIdleTickMs);
    connect(timer_, &QTimer::timeout, this, &SitePanelWindow::tick);
    timer_->start();
}

SitePanelWindow::~SitePanelWindow() = default;

bool SitePanelWindow::applying() const {
    return apply_ && !apply_->finished();
}

QString SitePanelWindow::portName() const {
    const SerialPort* port = ctx_.link.serial.port();
    return port ? port->name() : QString();
}

void SitePanelWindow::refreshStates() {
    for (int i = 0; i < plan_.rows.size(); ++i) {
        const site::PlanRow& r = plan_.rows[i];
        const auto latest = record_.latest(r.sn, r.uid);
        QString state = QStringLiteral("pending");
        if (!latest)
            state = latest.error();
        else if (*latest)
            state = (*latest)->result == QLatin1String(site::kFailed)
                        ? QStringLiteral("failed: ") + (*latest)->reason
                        : (*latest)->result;
        state = ctx_.lang.translate(state);
        table_->item(i, State)->setText(state);
        table_->item(i, State)->setToolTip(state);
    }
}

// Once the identity of the unit on the line is read, its row is selected.
void SitePanelWindow::followIdentity() {
    const QString uid = flash::uniqueIdOf(ctx_.link.state);
    if (uid == seenUid_ && connectedRow_ >= 0)
        return;
    seenUid_ = uid;
    const QString sn = serialNumberOf(ctx_.link.state);
    const site::PlanRow* row = plan_.rowFor(sn, uid, portName());
    connectedRow_ = row ? static_cast<int>(row - plan_.rows.constData()) : -1;
    if (connectedRow_ >= 0)
        table_->selectRow(connectedRow_);
    QString said;
    if (uid.isEmpty() || uid == QLatin1String("---"))
        said = QStringLiteral("No unit identified yet: press Connect.");
    else if (row)
        said = QStringLiteral("Connected: sn %1, uid %2, on %3: line %4, %5.")
                   .arg(sn, uid, portName())
                   .arg(row->line)
                   .arg(row->name);
    else
        said = QStringLiteral("Connected: sn %1, uid %2, on %3: not in this plan.")
                   .arg(sn, uid, portName());
    unit_->setText(ctx_.lang.translate(said));
    applyButton_->setEnabled(row != nullptr && !applying());
}

bool SitePanelWindow::applyToConnectedUnit() {
    if (applying())
        return false;
    followIdentity();
    if (connectedRow_ < 0) {
        ctx_.prompts.message(windowTitle(), unit_->text(), MessageKind::Warning);
        return false;
    }
    const site::PlanRow& r = plan_.rows[connectedRow_];
    if (!ctx_.prompts.askYesNo(
            windowTitle(),
            QStringLiteral("Apply line %1 to the unit on %2?\n\nName: %3\nAddress: %4\nDevice id: "
                           "%5\nTemplate: %6%7\n\nThe unit is read and recorded as found, "
                           "written, read back and recorded as left.")
                .arg(r.line)
                .arg(portName(), r.name,
                     optionalNumber(r.address, QStringLiteral("the template's")),
                     optionalNumber(r.deviceId, QStringLiteral("the template's")), r.templatePath,
                     guidedRuns(r)),
            false, true))
        return false;
    apply_ = std::make_unique<site::UnitApply>(ctx_, plan_, record_, &runner_);
    if (!apply_->start(portName(), site::engineerName())) {
        ctx_.prompts.message(windowTitle(), apply_->failure(), MessageKind::Warning);
        apply_.reset();
        return false;
    }
    applyButton_->setEnabled(false);
    table_->item(connectedRow_, State)->setText(ctx_.lang.translate(QStringLiteral("applying")));
    status_->setText(ctx_.lang.translate(apply_->activity() + QStringLiteral("...")));
    return true;
}

void SitePanelWindow::tick() {
    if (!apply_) {
        followIdentity();
        return;
    }
    apply_->tick();
    // The firmware update and profile change count their waits in ticks.
    timer_->setInterval(apply_->intervalMs());
    if (!apply_->finished()) {
        status_->setText(ctx_.lang.translate(apply_->activity() + QStringLiteral("...")));
        return;
    }
    timer_->setInterval(kIdleTickMs);
    QString result =
        apply_->failure().isEmpty()
            ? QStringLiteral("%1: %2.").arg(apply_->visit().name, apply_->result())
            : QStringLiteral("%1: failed: %2").arg(apply_->visit().name, apply_->failure());
    if (!apply_->changedSince().isEmpty())
        result += QStringLiteral("\nAs found, the unit had %1.").arg(apply_->changedSince());
    status_->setText(ctx_.lang.translate(result));
    apply_.reset();
    refreshStates();
    applyButton_->setEnabled(connectedRow_ >= 0);
    ctx_.prompts.message(windowTitle(), result,
                         result.contains(QLatin1String("failed")) ? MessageKind::Warning
                                                                  : MessageKind::Plain);
}

void SitePanelWindow::showHistory() {
    const int i = table_->currentRow();
    if (i < 0 || i >= plan_.rows.size())
        return;
    const site::PlanRow& r = plan_.rows[i];
    const auto visits = record_.visits(r.uid.isEmpty() ? r.sn : r.uid);
    QStringList lines;
    if (!visits)
        lines << visits.error();
    else
        for (const site::Visit& v : *visits) {
            const QList<int> changed = site::changedRegisters(v.found, v.left);
            lines << QStringLiteral("%1  %2  firmware %3: %4 (%5 register(s) changed)")
                         .arg(v.started.toLocalTime().toString(Qt::ISODate), v.engineer, v.firmware,
                              v.result)
                         .arg(changed.size());
        }
    if (lines.isEmpty())
        lines << QStringLiteral("No visit recorded yet.");
    ctx_.prompts.message(QStringLiteral("History of %1").arg(r.key()), lines.join(u'\n'));
}

void SitePanelWindow::reject() {
    if (applying() &&
        !ctx_.prompts.askYesNo(windowTitle(),
                               QStringLiteral("An apply is running. Stop it and close? The "
                                              "visit stays recorded as interrupted."),
                               true, true))
        return;
    apply_.reset();
    QDialog::reject();
}

} // namespace gp
