#include "config/config_tools_view.h"

#include "config/bulk_transfer.h"
#include "config/config_load.h"
#include "config/logo_transfer.h"
#include "config/product_config_view.h"
#include "config/save_config_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QPushButton>
#include <QTimer>

namespace gp {

namespace {
QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}
} // namespace

ConfigToolsView::ConfigToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("ConfigTools"));
    auto* grid = new QGridLayout(this);
    auto* readAll = button(this, "command11", QStringLiteral("ReadAllCnf"));
    auto* writeAll = button(this, "Command12", QStringLiteral("WriteAllCnf"));
    auto* readLogo = button(this, "Command10", QStringLiteral("Read Logo"));
    auto* loadLogoButton = button(this, "Command9", QStringLiteral("load logo"));
    saveAll_ = new QCheckBox(QStringLiteral("SaveAllNonvol"), this);
    saveAll_->setObjectName(QStringLiteral("CheckSaveAll"));
    grid->addWidget(readAll, 0, 0);
    grid->addWidget(writeAll, 0, 1);
    grid->addWidget(readLogo, 1, 0);
    grid->addWidget(loadLogoButton, 1, 1);
    grid->addWidget(saveAll_, 2, 0, 1, 2);
    productConfig_ = new ProductConfigView(ctx_, this);
    grid->addWidget(productConfig_, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);

    connect(readAll, &QPushButton::clicked, this, [this] { ReadAllRegisters(ctx_.link); });
    connect(writeAll, &QPushButton::clicked, this, [this] {
        const WriteStart w = WriteAllRegisters(ctx_.link);
        if (w.refused())
            ctx_.prompts.message(QString(), w.refusal, MessageKind::Warning);
    });
    connect(readLogo, &QPushButton::clicked, this, [this] { ReadLogo(ctx_.link); });
    connect(loadLogoButton, &QPushButton::clicked, this, &ConfigToolsView::loadLogo);

    loadTimer_ = new QTimer(this);
    loadTimer_->setInterval(200);
    connect(loadTimer_, &QTimer::timeout, this, &ConfigToolsView::watchLoad);
}

ConfigToolsView::~ConfigToolsView() = default;

void ConfigToolsView::showFromRegisters() {
    productConfig_->showFromRegisters();
}

void ConfigToolsView::openConfigFile() {
    const QString path = ctx_.prompts.openFile(ctx_.text(103, QStringLiteral("Open")),
                                               QStringLiteral("Config files{*.cfg)|*.cfg"));
    if (path.isEmpty())
        return;
    auto load = std::make_unique<ConfigLoad>(ctx_.link);
    if (!load->start(path).ok()) {
        refusedLoad(load->check());
        return;
    }
    // The product check follows the read of registers 00 and 01.
    load_ = std::move(load);
    loadTimer_->start();
}

void ConfigToolsView::refusedLoad(const CfgCheck& check) {
    const QString text = check.status == CfgCheck::WrongProduct
                             ? ctx_.text(10005, QStringLiteral("Wrong Product Type."))
                             : check.message;
    ctx_.prompts.message(QString(), text, MessageKind::Warning);
}

void ConfigToolsView::watchLoad() {
    if (!load_ || !load_->finished())
        return;
    loadTimer_->stop();
    if (!load_->check().ok()) {
        const CfgCheck check = load_->check();
        load_.reset();
        refusedLoad(check);
        return;
    }
    const LoadReport rep = load_->report();
    load_.reset();
    ctx_.prompts.message(QStringLiteral("Load configuration"), rep.text(),
                         rep.unconfirmed.isEmpty() && rep.settingsStored ? MessageKind::Plain
                                                                         : MessageKind::Warning);
}

void ConfigToolsView::saveConfigFile() {
    Form5 dialog(ctx_, saveAll_->isChecked(), window());
    dialog.exec();
}

void ConfigToolsView::loadLogo() {
    const QString path = ctx_.prompts.openFile(
        QStringLiteral("load logo"), QStringLiteral("Logo definition files{*.lgo)|*.lgo"));
    if (path.isEmpty())
        return;
    const LogoFile file = readLogoFile(path);
    if (!file.ok()) {
        ctx_.prompts.message(QStringLiteral("load logo"), file.error, MessageKind::Warning);
        return;
    }
    sendLogoFrames(ctx_.link, file.frames);
}

} // namespace gp
