#include "flash/low_level_flash_window.h"

#include "app/app_context.h"
#include "app/named_widget.h"
#include "flash/bossac.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace gp {

namespace {
QCheckBox* check(const char* name, const QString& caption, bool ticked, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(ticked);
    return box;
}
} // namespace

Form4::Form4(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx), core_(ctx, runner_) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("SAMBA"));

    command1_ =
        namedButton(QStringLiteral("Put Device into SAMBA Mode"), QStringLiteral("Command1"), this);

    auto* file = new QGroupBox(QStringLiteral("File"), this);
    file->setObjectName(QStringLiteral("FrameFile"));
    text2_ = new QLineEdit(file);
    text2_->setObjectName(QStringLiteral("Text2"));
    text2_->setReadOnly(true);
    command3_ = namedButton(QStringLiteral("browse"), QStringLiteral("Command3"), file);
    auto* fileRow = new QHBoxLayout(file);
    fileRow->addWidget(text2_, 1);
    fileRow->addWidget(command3_);

    auto* opts = new QGroupBox(QStringLiteral("Write Options"), this);
    opts->setObjectName(QStringLiteral("FrameOptions"));
    checkErase_ = check("CheckErase", QStringLiteral("Erase All"), true, opts);
    checkVerify_ = check("CheckVerify", QStringLiteral("Verify"), true, opts);
    checkBoot_ = check("CheckBoot", QStringLiteral("Boot from Flash"), true, opts);
    checkBOD_ = check("CheckBOD", QStringLiteral("Brownout Detect"), false, opts);
    checkBOR_ = check("CheckBOR", QStringLiteral("Brownout Reset"), false, opts);
    checkLock_ = check("CheckLock", QStringLiteral("Lock"), false, opts);
    checkSecurity_ = check("CheckSecurity", QStringLiteral("Security"), false, opts);
    checkLock_->setToolTip(flash::lockWarning());
    connect(checkLock_, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            ctx_.prompts.message(QStringLiteral("SAMBA"), flash::lockWarning(),
                                 MessageKind::Warning);
    });
    auto* grid = new QGridLayout(opts);
    grid->addWidget(checkErase_, 0, 0);
    grid->addWidget(checkVerify_, 1, 0);
    grid->addWidget(checkBoot_, 2, 0);
    grid->addWidget(checkBOD_, 0, 1);
    grid->addWidget(checkBOR_, 1, 1);
    grid->addWidget(checkLock_, 0, 2);
    grid->addWidget(checkSecurity_, 1, 2);

    command2_ =
        namedButton(QStringLiteral("Build Shell Command"), QStringLiteral("Command2"), this);
    text1_ = new QLineEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    // Wide enough for the whole line with a path of some depth.
    text1_->setMinimumWidth(text1_->fontMetrics().averageCharWidth() * 100);
    command4_ =
        namedButton(QStringLiteral("Execute Shell Command"), QStringLiteral("Command4"), this);
    stop_ = namedButton(QStringLiteral("Stop flashing tool"), QStringLiteral("CommandStop"), this);
    toolLine_ = new QLabel(this);
    toolLine_->setObjectName(QStringLiteral("LabelTool"));
    toolLine_->setTextFormat(Qt::PlainText);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(command1_, 0, Qt::AlignLeft);
    layout->addWidget(file);
    layout->addWidget(opts);
    auto* buildRow = new QHBoxLayout;
    buildRow->addWidget(command2_);
    buildRow->addStretch();
    layout->addLayout(buildRow);
    layout->addWidget(text1_);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(command4_);
    runRow->addWidget(stop_);
    runRow->addStretch();
    layout->addLayout(runRow);
    layout->addWidget(toolLine_);

    // Put the unit into its boot loader, choose the file, set the options,
    // build the command line, execute.
    QWidget* order[] = {command1_, command3_,  checkErase_,    checkVerify_, checkBoot_, checkBOD_,
                        checkBOR_, checkLock_, checkSecurity_, command2_,    text1_,     command4_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(command1_, &QPushButton::clicked, this, [this] { core_.putIntoSamba(); });
    connect(command3_, &QPushButton::clicked, this, [this] {
        core_.browse();
        text2_->setText(core_.firmwarePath());
    });
    connect(command2_, &QPushButton::clicked, this, [this] {
        text1_->setText(core_.buildShellCommand(options()));
        text1_->setCursorPosition(0); // the options first, the path may scroll
        text1_->setToolTip(text1_->text());
    });
    connect(command4_, &QPushButton::clicked, this, [this] {
        if (core_.execute(text1_->text()))
            toolLine_->clear();
        refresh();
    });
    connect(stop_, &QPushButton::clicked, this, [this] { core_.stopTool(); });
    core_.onToolLine = [this](const QString& line) { toolLine_->setText(line); };

    // No view refreshes (and no live polls chained on them) while the unit
    // may sit in its boot loader.
    ctx.tabs.pauseCompletion();
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer1"));
    connect(timer, &QTimer::timeout, this, [this] {
        core_.tick();
        refresh();
    });
    timer->start(LowLevelFlash::kTickMs);
    refresh();
}

Form4::~Form4() {
    ctx_.tabs.resumeCompletion();
}

flash::WriteOptions Form4::options() const {
    flash::WriteOptions o;
    o.erase = checkErase_->isChecked();
    o.verify = checkVerify_->isChecked();
    o.bootFromFlash = checkBoot_->isChecked();
    o.brownoutDetect = checkBOD_->isChecked();
    o.brownoutReset = checkBOR_->isChecked();
    o.lock = checkLock_->isChecked();
    o.security = checkSecurity_->isChecked();
    return o;
}

void Form4::refresh() {
    const bool running = core_.toolRunning();
    stop_->setVisible(running);
    for (QPushButton* b : {command1_, command2_, command3_, command4_})
        b->setEnabled(!running);
}

bool Form4::mayClose() {
    if (!core_.toolRunning())
        return true;
    const bool yes = ctx_.prompts.askYesNo(
        windowTitle(),
        QStringLiteral("The flashing tool is running. The unit may be left in its boot loader "
                       "and need a power cycle afterwards. Stop the tool and close?"),
        true, true);
    if (yes)
        core_.abandon();
    return yes;
}

void Form4::closeEvent(QCloseEvent* event) {
    if (mayClose())
        event->accept();
    else
        event->ignore();
}

void Form4::reject() {
    if (mayClose())
        QDialog::reject();
}

} // namespace gp
