#include "config/save_config_window.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

Form5::Form5(AppContext& ctx, bool saveAllNonvol, QWidget* parent)
    : QDialog(parent), save_(ctx.link, ctx.prompts, saveAllNonvol) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Save Configuration"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Label1"));
    status_->setMinimumWidth(320);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &Form5::reject);
    timer_ = new QTimer(this);
    timer_->setInterval(200);
    connect(timer_, &QTimer::timeout, this, &Form5::tick);
    timer_->start();
}

void Form5::tick() {
    save_.tick();
    status_->setText(save_.status());
    if (save_.finished()) {
        timer_->stop();
        if (save_.saved())
            accept();
        else
            QDialog::reject();
    }
}

void Form5::reject() {
    timer_->stop();
    save_.cancel();
    QDialog::reject();
}

} // namespace gp
