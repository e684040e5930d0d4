#include "flash/flash_tools_view.h"

#include "app/app_context.h"
#include "flash/backup_restore.h"
#include "flash/firmware_backup.h"
#include "flash/firmware_update_window.h"
#include "flash/low_level_flash_window.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <utility>

namespace gp {

FlashToolsView::FlashToolsView(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("FlashTools"));
    noLogo_ = new QCheckBox(QStringLiteral("No Logo Write"), this);
    noLogo_->setObjectName(QStringLiteral("CheckNoLogo"));
    auto* samba = new QPushButton(QStringLiteral("Samba"), this);
    samba->setObjectName(QStringLiteral("CommandSamba"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(noLogo_);
    layout->addWidget(samba);
    layout->addStretch();
    connect(samba, &QPushButton::clicked, this, &FlashToolsView::lowLevelFlash);
}

void FlashToolsView::firmwareUpdate() {
    if (!ctx_.confirmGuidedRun())
        return;
    Form2 form(ctx_, noLogo_->isChecked(), window());
    form.exec();
    if (form.machine().succeeded())
        emit firmwareUpdated();
}

void FlashToolsView::restoreFromBackup() {
    const QString title = QStringLiteral("Restore from backup");
    // The chooser opens where the firmware update puts its backups.
    const QString before = std::exchange(ctx_.prompts.startPath, flash::defaultBackupFolder());
    const QString cfg = ctx_.prompts.openFile(title, QStringLiteral("Config files{*.cfg)|*.cfg"));
    ctx_.prompts.startPath = before;
    if (cfg.isEmpty())
        return;
    // The logo backup sits beside the settings, under the same name.
    QString lgo = cfg.chopped(4) + QStringLiteral(".lgo");
    if (!QFileInfo::exists(lgo))
        lgo.clear();
    const flash::BackupContent content = flash::readBackup(cfg, lgo);
    if (!content.ok()) {
        ctx_.prompts.message(title, content.error, MessageKind::Warning);
        return;
    }
    // Nothing is written before the engineer says so (default No).
    if (!ctx_.prompts.askYesNo(
            title,
            restoreQuestion(cfg, content, QFileInfo(cfg).lastModified(),
                            ctx_.link.serial.port() ? ctx_.link.serial.port()->name() : QString(),
                            ctx_.link.state),
            true, true))
        return;
    BackupRestore restore(ctx_.link);
    const QString refused = restore.start(cfg, lgo);
    if (!refused.isEmpty()) {
        ctx_.prompts.message(title, refused, MessageKind::Warning);
        return;
    }
    QProgressDialog progress(restore.stepText(), QString(), 0, 0, window());
    progress.setObjectName(QStringLiteral("RestoreProgress"));
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    QTimer timer;
    connect(&timer, &QTimer::timeout, &progress, [&] {
        restore.tick();
        progress.setLabelText(restore.stepText());
        if (restore.finished())
            progress.close();
    });
    timer.start(restore.intervalMs());
    progress.exec();
    timer.stop();
    ctx_.prompts.message(title, restore.stepText(),
                         restore.succeeded() ? MessageKind::Plain : MessageKind::Warning);
}

void FlashToolsView::lowLevelFlash() {
    Form4 form(ctx_, window());
    form.exec();
}

} // namespace gp
