#include "config/save_config_window.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

Form5::Form5(AppContext& ctx, bool saveAllNonvol, QWidget* parent)
    : QDialog(parent), lang_(ctx.lang), save_(ctx.link, ctx.prompts, saveAllNonvol) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Save Configuration"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Label1"));
    status_->setMinimumWidth(420);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    // Return must not abandon a save under way: Cancel is never the default.
    QPushButton* cancel = buttons_->button(QDialogButtonBox::Cancel);
    cancel->setAutoDefault(false);
    cancel->setDefault(false);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::rejected, this, &Form5::reject);
    timer_ = new QTimer(this);
    timer_->setInterval(200);
    connect(timer_, &QTimer::timeout, this, &Form5::tick);
    timer_->start();
}

// The window grows with its message: a long list of registers not read
// would otherwise be cut off top and bottom.
void Form5::setStatus(const QString& english) {
    const QString text = lang_.translate(english);
    if (status_->text() == text)
        return;
    status_->setText(text);
    layout()->activate();
    const int needed = heightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

void Form5::tick() {
    save_.tick();
    setStatus(save_.status());
    if (save_.finished()) {
        timer_->stop();
        if (save_.saved())
            accept();
        else if (!save_.failure().isEmpty())
            showNotSaved();
        else
            QDialog::reject(); // the engineer cancelled the file dialog
    }
}

void Form5::showNotSaved() {
    QString text = save_.failure();
    if (!text.startsWith(QLatin1String("Not saved")))
        text = QStringLiteral("Not saved: ") + text;
    setStatus(text);
    buttons_->clear();
    QPushButton* close = buttons_->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("CommandClose"));
    close->setDefault(true);
    close->setFocus();
}

void Form5::reject() {
    timer_->stop();
    save_.cancel();
    QDialog::reject();
}

} // namespace gp
