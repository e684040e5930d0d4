#include "flash/firmware_update_window.h"

#include "app/app_context.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

Form2::Form2(AppContext& ctx, bool noLogo, QWidget* parent)
    : QDialog(parent), ctx_(ctx), machine_(ctx, runner_) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(ctx.text(7000, QStringLiteral("Firmware Update")));
    machine_.noLogo = noLogo;
    auto* label3 = new QLabel(ctx.text(7010, QStringLiteral("WARNING")), this);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->setWordWrap(true);
    label1_ = new QLabel(this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setWordWrap(true);
    // What is happening, in words, with its step (the state number is in
    // the tooltip, for a report to the vendor).
    label2_ = new QLabel(this);
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setWordWrap(true);
    label2_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    command2_ = new QPushButton(this);
    command2_->setObjectName(QStringLiteral("Command2"));
    command2_->setDefault(true);
    stop_ = new QPushButton(QStringLiteral("Stop flashing tool"), this);
    stop_->setObjectName(QStringLiteral("CommandStop"));
    // Before Start nothing has happened yet: Cancel closes the window. During
    // the run it asks first, as closing the window does.
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("CommandCancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label3);
    layout->addWidget(label1_);
    layout->addWidget(label2_);
    layout->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(stop_);
    row->addWidget(cancel_);
    row->addWidget(command2_);
    layout->addLayout(row);
    setMinimumWidth(480);
    connect(cancel_, &QPushButton::clicked, this, &Form2::reject);

    connect(command2_, &QPushButton::clicked, this, [this] {
        if (machine_.clickButton())
            accept();
        refresh();
    });
    connect(stop_, &QPushButton::clicked, this, [this] { machine_.stopTool(); });
    machine_.makeTopMost = [this] {
        raise();
        activateWindow();
    };
    // No view refreshes while this window runs its batches.
    ctx.tabs.pauseCompletion();
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &Form2::onTick);
    timer_->start(machine_.intervalMs());
    refresh();
}

Form2::~Form2() {
    ctx_.tabs.resumeCompletion();
}

void Form2::onTick() {
    machine_.tick();
    if (timer_->interval() != machine_.intervalMs())
        timer_->setInterval(machine_.intervalMs());
    refresh();
}

void Form2::refresh() {
    label1_->setText(ctx_.lang.translate(machine_.stepText()));
    const QString words = machine_.activity();
    const int step = machine_.stepNumber();
    label2_->setText(ctx_.lang.translate(words.isEmpty() || step <= 0
                                             ? words
                                             : QStringLiteral("Step %1 of %2: %3")
                                                   .arg(step)
                                                   .arg(FirmwareUpdate::kStepCount)
                                                   .arg(words)));
    label2_->setToolTip(
        ctx_.lang.translate(QStringLiteral("State %1").arg(machine_.stateNumber())));
    command2_->setText(ctx_.lang.translate(machine_.buttonCaption()));
    command2_->setEnabled(machine_.buttonEnabled());
    stop_->setVisible(machine_.toolRunning());
    cancel_->setVisible(machine_.stateNumber() !=
                        static_cast<int>(FirmwareUpdate::State::Complete));
}

bool Form2::mayClose() {
    if (!machine_.runInProgress())
        return true;
    const QString where = machine_.unitInBootLoader()
                              ? QStringLiteral("\n\n") + flash::wayBackText(machine_.backup())
                              : QString();
    const bool yes = ctx_.prompts.askYesNo(
        windowTitle(),
        QStringLiteral("A firmware update is running. The unit may be in its boot loader and "
                       "need a power cycle afterwards. Stop the update and close?") +
            where,
        true, true);
    if (yes)
        machine_.abandon();
    return yes;
}

void Form2::closeEvent(QCloseEvent* event) {
    if (mayClose())
        event->accept();
    else
        event->ignore();
}

void Form2::reject() {
    if (mayClose())
        QDialog::reject();
}

} // namespace gp
