#include "config/profile_change_window.h"

#include "app/app_context.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

Form3::Form3(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx), machine_(ctx) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(ctx.text(7020, QStringLiteral("Profile Change")));
    label1_ = new QLabel(this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setWordWrap(true);
    command2_ = new QPushButton(this);
    command2_->setObjectName(QStringLiteral("Command2"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addWidget(command2_, 0, Qt::AlignRight);
    resize(400, 140);
    connect(command2_, &QPushButton::clicked, this, [this] {
        if (machine_.clickButton())
            accept();
        refresh();
    });
    ctx.tabs.pauseCompletion();
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer1"));
    connect(timer, &QTimer::timeout, this, [this] {
        machine_.tick();
        refresh();
    });
    timer->start(machine_.intervalMs());
    refresh();
}

Form3::~Form3() {
    ctx_.tabs.resumeCompletion();
}

void Form3::refresh() {
    // The step as the unit tool words it, and below it what is happening.
    const QString words = machine_.activity();
    label1_->setText(ctx_.lang.translate(words.isEmpty() || words == machine_.stepText()
                                             ? machine_.stepText()
                                             : machine_.stepText() + QLatin1Char('\n') + words));
    command2_->setText(ctx_.lang.translate(machine_.buttonCaption()));
    command2_->setEnabled(machine_.buttonEnabled());
}

} // namespace gp
