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
    label2_ = new QLabel(this);
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setEnabled(false);
    command2_ = new QPushButton(this);
    command2_->setObjectName(QStringLiteral("Command2"));
    stop_ = new QPushButton(QStringLiteral("Stop flashing tool"), this);
    stop_->setObjectName(QStringLiteral("CommandStop"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label3);
    layout->addWidget(label1_);
    auto* row = new QHBoxLayout;
    row->addWidget(label2_);
    row->addStretch();
    row->addWidget(stop_);
    row->addWidget(command2_);
    layout->addLayout(row);
    resize(480, 220);

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
    label1_->setText(machine_.stepText());
    // The state number, and beside it in words what is happening.
    const QString words = machine_.activity();
    label2_->setText(words.isEmpty()
                         ? QString::number(machine_.stateNumber())
                         : QStringLiteral("%1  %2").arg(machine_.stateNumber()).arg(words));
    command2_->setText(machine_.buttonCaption());
    command2_->setEnabled(machine_.buttonEnabled());
    stop_->setVisible(machine_.toolRunning());
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
