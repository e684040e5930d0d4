#include "config/config_tools_view.h"

#include "app/named_widget.h"
#include "config/config_load.h"
#include "config/product_config_view.h"
#include "config/save_config_window.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"
#include "unit/logo_transfer.h"
#include "unit/registers.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QTimer>

namespace gp {

ConfigToolsView::ConfigToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("ConfigTools"));
    auto* grid = new QGridLayout(this);
    auto* readAll = namedButton(QStringLiteral("ReadAllCnf"), QStringLiteral("command11"), this);
    auto* writeAll = namedButton(QStringLiteral("WriteAllCnf"), QStringLiteral("Command12"), this);
    auto* readLogo = namedButton(QStringLiteral("Read Logo"), QStringLiteral("Command10"), this);
    auto* loadLogoButton =
        namedButton(QStringLiteral("load logo"), QStringLiteral("Command9"), this);
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
        const WriteStart w = WriteAllRegistersAsking(ctx_.link, ctx_.prompts);
        if (w.refused())
            ctx_.prompts.message(QString(), w.refusal(), MessageKind::Warning);
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

namespace {
constexpr char kFolderKey[] = "CFG_FOLDER";

} // namespace

QString ConfigToolsView::lastFolder() const {
    const QString folder =
        ctx_.persist.ReadIniValue(QString::fromLatin1(kFolderKey)).value_or(QString());
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void ConfigToolsView::rememberFolder(const QString& path) {
    ctx_.persist.WriteIniValue(QString::fromLatin1(kFolderKey),
                               QFileInfo(path).absoluteDir().absolutePath());
}

void ConfigToolsView::openConfigFile() {
    ctx_.prompts.startPath = lastFolder();
    const QString path = ctx_.prompts.openFile(ctx_.text(103, QStringLiteral("Open")),
                                               QStringLiteral("Config files{*.cfg)|*.cfg"));
    ctx_.prompts.startPath.clear();
    if (path.isEmpty())
        return;
    rememberFolder(path);
    // Read first, on a copy: nothing reaches the unit before the engineer
    // has seen what the file will write and said yes. The product check
    // itself follows the unit's answer to the read of registers 00 and 01.
    const CfgCheck parsed = parseCfgFile(path);
    if (!parsed.ok()) {
        refusedLoad(parsed);
        return;
    }
    DeviceState after = ctx_.link.state;
    applyCfg(after, parsed.content);
    const int writes = static_cast<int>(cfgWriteRegisters(after, parsed.content).size());
    QString product = productNameOf(after).trimmed();
    if (product.isEmpty())
        product = QStringLiteral("the unit");
    const QString title = QStringLiteral("Load Configuration");
    if (!ctx_.prompts.askYesNo(
            title,
            QStringLiteral("%1 holds settings for %2.\n\nWrite %3 registers to the unit now? "
                           "Its present settings are overwritten and cannot be restored "
                           "unless they were saved.")
                .arg(QFileInfo(path).fileName(), product)
                .arg(writes),
            true, true)) {
        ctx_.link.log.AddLog(QStringLiteral("Load of %1 cancelled: nothing written.")
                                 .arg(QDir::toNativeSeparators(path)));
        return;
    }
    auto load = std::make_unique<ConfigLoad>(ctx_.link);
    if (!load->start(path, verifyAfterLoad(ctx_.persist)).ok()) {
        refusedLoad(load->check());
        return;
    }
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
    ctx_.prompts.message(QStringLiteral("Load Configuration"), rep.text(),
                         rep.ok() ? MessageKind::Plain : MessageKind::Warning);
}

void ConfigToolsView::saveConfigFile() {
    QString folder = lastFolder();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    Form5 dialog(ctx_, saveAll_->isChecked(), window());
    dialog.machine().startFolder = folder;
    dialog.machine().addMissingSuffix = true;
    dialog.exec();
    const QString saved = dialog.machine().savedPath();
    if (saved.isEmpty())
        return;
    rememberFolder(saved);
    const QString said = QStringLiteral("Configuration saved to %1")
                             .arg(QDir::toNativeSeparators(QFileInfo(saved).absoluteFilePath()));
    ctx_.link.log.AddLog(said);
    if (onSaved)
        onSaved(said);
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
