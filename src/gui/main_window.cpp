#include "gui/main_window.h"

#include "app/caption_catalogue.h"
#include "calib/calibration_view.h"
#include "co2/co2_settings.h"
#include "co2/co2_view.h"
#include "config/comms_settings.h"
#include "config/comms_view.h"
#include "config/config_load.h"
#include "config/config_tools_view.h"
#include "config/profile_change_window.h"
#include "diag/diagnostics_view.h"
#include "diag/identity.h"
#include "diag/identity_view.h"
#include "flash/flash_tools_view.h"
#include "gui/about_box.h"
#include "gui/progress_widget.h"
#include "gui/report_window.h"
#include "gui/site_panel_window.h"
#include "gui/traffic_log_view.h"
#include "platform/port_list.h"
#include "platform/qt_prompts.h"
#include "platform/qt_serial_port.h"
#include "unit/bulk_transfer.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>

namespace gp {

namespace {

QString keyboardShortcutsText() {
    return QStringLiteral(
        "F5\tRead the unit again\n"
        "Ctrl+1 .. Ctrl+5\tThe views shown, left to right (Ctrl+5 when the CO2 view is shown)\n"
        "Ctrl+O\tLoad a configuration file\n"
        "Ctrl+S\tSave the configuration to a file\n"
        "Ctrl+Q\tQuit\n"
        "Alt+letter, F10\tThe menus");
}

// Every menu and entry gets a mnemonic (the first letter not yet taken in its
// menu), and an entry that opens a window asking for more ends in "...";
// texts from a catalogue keep their letters, and a catalogue's own "&" is
// kept.
QString withMnemonic(const QString& text, QString& used) {
    if (text.contains(u'&'))
        return text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i].toLower();
        if (c.isLetter() && !used.contains(c)) {
            used += c;
            return text.left(i) + u'&' + text.mid(i);
        }
    }
    return text;
}

void decorateMenu(QMenu* menu, const QList<QAction*>& asksMore) {
    QString used;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        QString text = a->text();
        if (asksMore.contains(a) && !text.endsWith(QLatin1String("...")))
            text += QStringLiteral("...");
        a->setText(withMnemonic(text, used));
        if (a->menu())
            decorateMenu(a->menu(), asksMore);
    }
}

void decorateMenus(QMenuBar* bar, const QList<QAction*>& asksMore) {
    QString used;
    for (QAction* top : bar->actions()) {
        top->setText(withMnemonic(top->text(), used));
        if (top->menu())
            decorateMenu(top->menu(), asksMore);
    }
}
// Tab heads stand left to right in the order Device, CO2, Comms, Calibration,
// Diagnostics (the spare head 0 is never shown).
constexpr int kHeadOrder[] = {TabDevice, TabCO2, TabComms, TabCalibration, TabDiagnostics};

// How long closing waits for the last lines to leave for the unit: two
// short lines take a few milliseconds at 9600 baud.
constexpr int kCloseFlushMs = 500;

// Window widths as designed, in twips.
constexpr int kNormalWidthTwips = 11835;
constexpr int kAdvancedWidthTwips = 14115;

// The room unit as the window's icon: a touchscreen in its frame.
QIcon windowIconPicture() {
    QIcon icon;
    for (int size : {16, 32, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x44, 0x4b, 0x55));
        p.drawRoundedRect(QRectF(1 * u, 1 * u, 14 * u, 14 * u), 2.5 * u, 2.5 * u);
        p.setBrush(QColor(0x2e, 0x9b, 0xd6));
        p.drawRoundedRect(QRectF(3 * u, 3 * u, 10 * u, 7.5 * u), 1 * u, 1 * u);
        p.setBrush(QColor(0xf2, 0xf2, 0xf2));
        p.drawRect(QRectF(4.5 * u, 5 * u, 4 * u, 1.2 * u));
        p.drawRect(QRectF(4.5 * u, 7 * u, 6 * u, 1.2 * u));
        p.setBrush(QColor(0x8c, 0xd1, 0x4f));
        p.drawEllipse(QRectF(6.8 * u, 11.3 * u, 2.4 * u, 2.4 * u));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

// "x,y,w,h" as stored; an invalid rectangle when it is not that.
QRect rectFromText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return {};
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return {};
    }
    return QRect(v[0], v[1], v[2], v[3]);
}

bool anyFile(const QString& folder, const QString& pattern) {
    return !QDir(folder).entryList({pattern}, QDir::Files).isEmpty();
}
// Calls back with the watched widget's new width whenever it is resized.
class WidthWatch : public QObject {
  public:
    WidthWatch(QWidget* watched, std::function<void(int)> resized)
        : QObject(watched), resized_(std::move(resized)) {
        watched->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            resized_(static_cast<QResizeEvent*>(event)->size().width());
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void(int)> resized_;
};

} // namespace

Form1::Form1(const Form1Options& options, QWidget* parent)
    : QMainWindow(parent), options_(options) {
    setObjectName(QStringLiteral("Form1"));
    persist_ = std::make_unique<Persist>(options.settingsPath);
    lang_ = std::make_unique<LangDll>(options.locale, options.langFolders.isEmpty()
                                                          ? LangDll::defaultSearchFolders()
                                                          : options.langFolders);
    // Every window shown takes the catalogue's captions, message boxes too.
    catalogueOnShow_ = std::make_unique<CatalogueOnShow>(*lang_, nullptr);
    if (options.promptsFactory)
        prompts_ = options.promptsFactory();
    else
        prompts_ = std::make_unique<QtPrompts>(this);
    tabs_ = std::make_unique<ViewTabs>(link_);
    ctx_ = std::make_unique<AppContext>(
        AppContext{link_, *persist_, *lang_, *prompts_, *tabs_, OperatingMode{}, -1});
    co2Channel_ = std::make_unique<Co2Channel>(link_);

    if (options.portFactory)
        link_.serial.setPort(options.portFactory());
    else
        link_.serial.setPort(std::make_unique<QtSerialPort>());

    buildUi();
    startUp();
}

Form1::~Form1() {
    // Unload: the port first, then the language catalogue.
    ticking_ = false;
    Timer1.stop();
    portWatch_.stop();
    link_.serial.close();
    lang_->CloseLibrary();
    // The views unhook themselves from the shared context when they go, so
    // they must go while the context is still alive, before the members.
    delete takeCentralWidget();
}

QWidget* Form1::panel(int tab) const {
    return tab >= 1 && tab <= 5 ? panels_[tab] : nullptr;
}

void Form1::buildUi() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);

    buildPortRow(central, outer);
    buildViews(central, outer);
    buildLogAndProgress(central, outer);
    buildStatusBar();
    buildMenus();
    connectMainButtons();
    connectLinkOutputs();
    connectPortAndLogControls();
    setCentralWidget(central);
}

// The port row and the main buttons.
void Form1::buildPortRow(QWidget* central, QVBoxLayout* outer) {
    // Port row and the main buttons.
    auto* top = new QHBoxLayout;
    Label2 = new QLabel(QStringLiteral("Com Port:"), central);
    Label2->setObjectName(QStringLiteral("Label2"));
    Combo2 = new QComboBox(central);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setMinimumContentsLength(14);
    Combo2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // A port the system does not list (a pseudo-terminal, a socat link, a
    // /dev/serial/by-id name) can be typed; Return chooses it.
    Combo2->setEditable(true);
    Combo2->setInsertPolicy(QComboBox::NoInsert);
    Combo2->lineEdit()->setPlaceholderText(QStringLiteral("port or path"));
    Combo2->setToolTip(QStringLiteral("Choose a port, or type its name or path and press Return"));
    Command4_1 = new QPushButton(QStringLiteral("Connect"), central);
    Command4_1->setObjectName(QStringLiteral("Command4_1"));
    Command4_0 = new QPushButton(QStringLiteral("Write"), central);
    Command4_0->setToolTip(QStringLiteral("Writes every setting read from the unit, with the "
                                          "comms settings shown, and stores them"));
    Command4_0->setObjectName(QStringLiteral("Command4_0"));
    CommandDefauts = new QPushButton(QStringLiteral("Defaults"), central);
    CommandDefauts->setObjectName(QStringLiteral("CommandDefauts"));
    CommandReset = new QPushButton(QStringLiteral("Reset"), central);
    CommandReset->setObjectName(QStringLiteral("CommandReset"));
    top->addWidget(Label2);
    top->addWidget(Combo2);
    top->addStretch(1);
    top->addWidget(Command4_1);
    top->addWidget(Command4_0);
    top->addWidget(CommandDefauts);
    top->addWidget(CommandReset);
    outer->addLayout(top);
}

// The view tabs, their panels and the views on them.
void Form1::buildViews(QWidget* central, QVBoxLayout* outer) {
    // View tabs and their panels.
    NavTab1 = new QTabBar(central);
    NavTab1->setObjectName(QStringLiteral("NavTab1"));
    NavTab1->setExpanding(false);
    NavTab1->setDrawBase(false);
    outer->addWidget(NavTab1);
    Picture1 = new QStackedWidget(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::StyledPanel);
    const char* panelNames[6] = {"",         "FrameCO2", "FrameDisplay", "FrameLiveView",
                                 "FrameCal", "FrameDiag"};
    for (int i = 1; i <= 5; ++i) {
        auto* scroll = new QScrollArea(Picture1);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        auto* p = new QWidget;
        p->setObjectName(QString::fromLatin1(panelNames[i]));
        scroll->setWidget(p);
        panels_[i] = p;
        Picture1->addWidget(scroll);
    }

    // CO2 view.
    {
        auto* l = new QVBoxLayout(panels_[TabCO2]);
        co2_ = new Co2View(*ctx_, *co2Channel_, panels_[TabCO2]);
        l->addWidget(co2_);
        l->addStretch(1);
    }
    // Device view: the comms frame, the identity lines, the log-to-file box.
    {
        auto* l = new QGridLayout(panels_[TabDevice]);
        comms_ = new CommsView(*ctx_, panels_[TabDevice]);
        identity_ = new IdentityView(*ctx_, panels_[TabDevice]);
        CheckLog = new QCheckBox(QStringLiteral("Log to file"), panels_[TabDevice]);
        CheckLog->setObjectName(QStringLiteral("CheckLog"));
        l->addWidget(identity_, 0, 0);
        l->addWidget(comms_, 0, 1, 2, 1);
        l->addWidget(CheckLog, 1, 0, Qt::AlignBottom | Qt::AlignLeft);
        l->setRowStretch(2, 1);
        l->setColumnStretch(2, 1);
    }
    // Calibration view.
    {
        auto* l = new QVBoxLayout(panels_[TabCalibration]);
        calibration_ = new CalibrationView(*ctx_, panels_[TabCalibration]);
        l->addWidget(calibration_);
        l->addStretch(1);
    }
    // Diagnostics view: diagnostics, configuration tools, firmware tools.
    {
        auto* l = new QGridLayout(panels_[TabDiagnostics]);
        diagnostics_ = new DiagnosticsView(*ctx_, panels_[TabDiagnostics]);
        configTools_ = new ConfigToolsView(*ctx_, panels_[TabDiagnostics]);
        // The diagnostics refresh shows the product registers in the
        // "Product Config" frame.
        diagnostics_->showProductConfig = [this] { configTools_->showFromRegisters(); };
        configTools_->onSaved = [this](const QString& said) { sayForAWhile(said, 15000); };
        flashTools_ = new FlashToolsView(*ctx_, panels_[TabDiagnostics]);
        CheckLogComs = new QCheckBox(QStringLiteral("LogComs"), panels_[TabDiagnostics]);
        CheckLogComs->setObjectName(QStringLiteral("CheckLogComs"));
        // The burn command on its own.
        Command13 = new QPushButton(QStringLiteral("Command13"), panels_[TabDiagnostics]);
        Command13->setObjectName(QStringLiteral("Command13"));
        // The tools column stands beside the diagnostics where the window
        // is wide enough for both, else below them (a large scale), so that
        // neither is cut off nor needs a sideways scroll bar.
        auto* tools = new QWidget(panels_[TabDiagnostics]);
        tools->setObjectName(QStringLiteral("DiagnosticsTools"));
        auto* t = new QGridLayout(tools);
        t->setContentsMargins(0, 0, 0, 0);
        configTools_->setParent(tools);
        flashTools_->setParent(tools);
        CheckLogComs->setParent(tools);
        Command13->setParent(tools);
        t->addWidget(configTools_, 0, 0);
        t->addWidget(flashTools_, 1, 0);
        t->addWidget(CheckLogComs, 2, 0, Qt::AlignTop | Qt::AlignLeft);
        CheckFastLink = new QCheckBox(QStringLiteral("Fast link"), tools);
        CheckFastLink->setObjectName(QStringLiteral("CheckFastLink"));
        t->addWidget(CheckFastLink, 2, 0, Qt::AlignTop | Qt::AlignRight);
        t->addWidget(Command13, 3, 0, Qt::AlignTop | Qt::AlignLeft);
        t->setRowStretch(4, 1);
        l->addWidget(diagnostics_, 0, 0);
        l->addWidget(tools, 0, 1);
        auto* scroll = qobject_cast<QScrollArea*>(Picture1->widget(TabDiagnostics - 1));
        new WidthWatch(scroll->viewport(), [this, l, tools](int width) {
            const int both = diagnostics_->minimumSizeHint().width() + l->horizontalSpacing() +
                             tools->minimumSizeHint().width();
            const bool beside = width >= both;
            int row = 0, column = 0, rows = 0, columns = 0;
            l->getItemPosition(l->indexOf(tools), &row, &column, &rows, &columns);
            if (beside == (column == 1))
                return;
            l->removeWidget(tools);
            l->addWidget(tools, beside ? 0 : 1, beside ? 1 : 0);
        });
        l->setColumnStretch(2, 1);
        l->setRowStretch(2, 1);
    }
}

// The traffic log below the views and the progress bar.
void Form1::buildLogAndProgress(QWidget* central, QVBoxLayout* outer) {
    // The view panel above, the log below; the engineer moves the line.
    split_ = new QSplitter(Qt::Vertical, central);
    split_->setObjectName(QStringLiteral("ViewLogSplitter"));
    split_->setChildrenCollapsible(false);
    split_->addWidget(Picture1);
    outer->addWidget(split_, 1);

    // Traffic log and progress.
    log_ = new TrafficLogView(*prompts_, central);
    MsgLog = log_->editor();
    log_->setStamps(TrafficLogView::stampsFromKey(
        persist_->ReadIniValue(QStringLiteral("LOG_TIMESTAMPS")).value_or(QString())));
    log_->onStampsChanged = [this](TrafficLogView::Stamps s) {
        persist_->WriteIniValue(QStringLiteral("LOG_TIMESTAMPS"), TrafficLogView::stampsKey(s));
    };
    log_->onSaved = [this](const QString& said) {
        sayForAWhile(said, 10000);
        link_.log.AddLog(said);
    };
    split_->addWidget(log_);
    split_->setStretchFactor(0, 1);
    split_->setStretchFactor(1, 0);
    auto* bottom = new QHBoxLayout;
    Picture3 = new ProgressWidget(central);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    LabelProg = new QLabel(QStringLiteral("0%"), central);
    LabelProg->setObjectName(QStringLiteral("LabelProg"));
    LabelProg->setMinimumWidth(LabelProg->fontMetrics().horizontalAdvance(QStringLiteral("100%")) +
                               4);
    bottom->addWidget(Picture3, 1);
    bottom->addWidget(LabelProg);
    outer->addLayout(bottom);
}

// The status bar: the port state and the frame counters.
void Form1::buildStatusBar() {
    // The port's state may be long (a path and the reason it failed): it
    // wraps rather than being cut off, and the counters keep their own field.
    statusPort_ = new QLabel(this);
    statusPort_->setObjectName(QStringLiteral("StatusPort"));
    statusPort_->setWordWrap(true);
    statusPort_->setMinimumWidth(120);
    statusCounters_ = new QLabel(this);
    statusCounters_->setObjectName(QStringLiteral("StatusCounters"));
    statusBar()->addWidget(statusPort_, 1);
    statusBar()->addPermanentWidget(statusCounters_);
}

// The menus and the keys.
void Form1::buildMenus() {
    // Menus.
    file_ = menuBar()->addMenu(QStringLiteral("File"));
    file_->setObjectName(QStringLiteral("file"));
    load_ = file_->addAction(QStringLiteral("Load"));
    load_->setObjectName(QStringLiteral("load"));
    file_->addSeparator();
    save_ = file_->addAction(QStringLiteral("Save"));
    save_->setObjectName(QStringLiteral("save"));
    // Every register a load writes is read back and compared when ticked.
    QAction* verify = file_->addAction(QStringLiteral("Verify after load"));
    verify->setObjectName(QStringLiteral("verifyAfterLoad"));
    verify->setCheckable(true);
    verify->setChecked(verifyAfterLoad(*persist_));
    connect(verify, &QAction::toggled, this,
            [this](bool on) { setVerifyAfterLoad(*persist_, on); });
    file_->addSeparator();
    // Brings back the settings and logo a firmware update saved before it
    // sent the unit into its boot loader.
    QAction* restoreBackup = file_->addAction(QStringLiteral("Restore from backup"));
    restoreBackup->setObjectName(QStringLiteral("restoreBackup"));
    connect(restoreBackup, &QAction::triggered, flashTools_, &FlashToolsView::restoreFromBackup);
    // A new firmware version: the Device view shows it.
    connect(flashTools_, &FlashToolsView::firmwareUpdated, this, [this] { IdentityRead(link_); });
    {
        // The commissioning report of the connected unit.
        auto* report = file_->addAction(QStringLiteral("Commissioning Report..."));
        report->setObjectName(QStringLiteral("commissioningReport"));
        connect(report, &QAction::triggered, this, [this] {
            ReportWindow w(*ctx_, &co2Channel_->link, &co2Channel_->settings, this);
            w.run();
        });
        // A building's plan: each unit its own settings, applied, read back
        // and recorded.
        auto* site = file_->addAction(QStringLiteral("Open Site Plan..."));
        site->setObjectName(QStringLiteral("openSitePlan"));
        connect(site, &QAction::triggered, this, [this] {
            const QString plan = ctx_->prompts.openFile(QStringLiteral("Open Site Plan"),
                                                        QStringLiteral("Site plans{*.csv)|*.csv"));
            if (!plan.isEmpty())
                openSitePlan(plan);
        });
    }
    file_->addSeparator();
    quit_ = file_->addAction(QStringLiteral("Quit"));
    quit_->setObjectName(QStringLiteral("quit"));
    load_->setShortcut(QKeySequence::Open);
    save_->setShortcut(QKeySequence::Save);
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit_, &QAction::triggered, this, &QWidget::close);
    tools_ = menuBar()->addMenu(QStringLiteral("Tools"));
    tools_->setObjectName(QStringLiteral("tools"));
    fwupdate_ = tools_->addAction(QStringLiteral("Firmware Update"));
    fwupdate_->setObjectName(QStringLiteral("fwupdate"));
    changeProfile_ = tools_->addAction(QStringLiteral("Profile Change"));
    changeProfile_->setObjectName(QStringLiteral("changeProfile"));
    avanced_ = tools_->addMenu(QStringLiteral("Advanced"));
    avanced_->setObjectName(QStringLiteral("avanced"));
    samba_ = avanced_->addAction(QStringLiteral("Low Level Flash"));
    samba_->setObjectName(QStringLiteral("samba"));
    help_ = menuBar()->addMenu(QStringLiteral("Help"));
    help_->setObjectName(QStringLiteral("help"));
    auto* keys = help_->addAction(QStringLiteral("Keyboard Shortcuts"));
    keys->setObjectName(QStringLiteral("keyboardShortcuts"));
    connect(keys, &QAction::triggered, this, [this] {
        ctx_->prompts.message(QStringLiteral("Keyboard Shortcuts"), keyboardShortcutsText());
    });
    about_ = help_->addAction(QStringLiteral("About"));
    about_->setObjectName(QStringLiteral("about"));
    // Entries that open a window asking for more say so.
    asksMore_ = {load_, save_, restoreBackup, fwupdate_, changeProfile_, samba_};

    connect(load_, &QAction::triggered, configTools_, &ConfigToolsView::openConfigFile);
    connect(save_, &QAction::triggered, configTools_, &ConfigToolsView::saveConfigFile);
    connect(fwupdate_, &QAction::triggered, flashTools_, &FlashToolsView::firmwareUpdate);
    connect(changeProfile_, &QAction::triggered, this, [this] {
        if (!ctx_->confirmGuidedRun())
            return;
        Form3 form(*ctx_, this);
        form.exec();
    });
    connect(samba_, &QAction::triggered, flashTools_, &FlashToolsView::lowLevelFlash);
    connect(about_, &QAction::triggered, this, &Form1::showAbout);

    // F5 reads the unit again; Ctrl+1.. select the heads left to right; F10
    // opens the menus, as on the other desktops.
    Command4_1->setShortcut(QKeySequence(Qt::Key_F5));
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    menuKey->setObjectName(QStringLiteral("menuKey"));
    connect(menuKey, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });
    for (int n = 1; n <= 5; ++n) {
        auto* key = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + n)), this);
        key->setObjectName(QStringLiteral("headKey%1").arg(n));
        connect(key, &QShortcut::activated, this, [this, n] {
            if (n <= NavTab1->count())
                tabs_->SelectTab(NavTab1->tabData(n - 1).toInt());
        });
    }
    setWindowIcon(windowIconPicture());
}

// What the main buttons do.
void Form1::connectMainButtons() {
    // The main buttons stand above every view, the CO2 view included: a unit
    // frame sent while the line is through to the sensor ends the
    // pass-through first (the serial link sees to that).
    connect(CommandDefauts, &QPushButton::clicked, this, [this] {
        // The port as the port list shows it (a pseudo-terminal's "0" alone
        // would name nothing).
        const QString port = !chosenPort_.isEmpty() ? chosenPort_
                             : link_.serial.port()  ? link_.serial.port()->name()
                                                    : QString();
        if (ctx_->prompts.askYesNo(
                QStringLiteral("Factory settings"),
                QStringLiteral("Put the unit on %1 back to its factory settings? Every setting "
                               "made on it is replaced by its factory value, and cannot be "
                               "brought back unless it was saved to a file first.")
                    .arg(port),
                true, true)) {
            sendDefaults(link_);
        }
    });
    connect(CommandReset, &QPushButton::clicked, this, [this] {
        sendReset(link_);
        // The unit gives no answer to a reset: say what was done.
        sayForAWhile(QStringLiteral("Reset sent: the unit restarts and answers again in a few "
                                    "seconds"),
                     10000);
    });
    connect(Command13, &QPushButton::clicked, this, [this] { burnSettings(link_); });
    // "Write": the comms controls into the register record, the record into
    // the register cache, then the device settings write. Registers the
    // controls are stored over are read first when unknown.
    connect(Command4_0, &QPushButton::clicked, this, [this] {
        if (comms_->isVisibleTo(this) && !comms_->checkAddress())
            return;
        // Registers never read from this unit would be left out: say so,
        // and offer to read them first.
        const QList<int> readFirst =
            askToReadFirst(ctx_->prompts, unreadBeforeWriteWithComms(link_.state),
                           static_cast<int>(knownDeviceSettingsRegisters(link_.state).size()));
        link_.SetProgress(0, 0);
        const WriteStart w = writeDeviceSettingsWithComms(link_, comms_->controls(), readFirst);
        if (w.refused())
            ctx_->prompts.message(QString(), w.refusal(), MessageKind::Warning);
    });
    // "Connect": read the identity again, whatever view is on screen.
    connect(Command4_1, &QPushButton::clicked, this, [this] {
        link_.SetProgress(0, 0);
        IdentityRead(link_);
    });

    // The Comms and Device views read the unit's identity when selected.
    tabs_->readOnSelect[TabComms] = [this] { IdentityRead(link_); };
    tabs_->readOnSelect[TabDevice] = [this] { IdentityRead(link_); };
    installCompletionSteps();
    watchForSilence();
    sayWhenWritten();

    // A write that had to read first and could not says why.
    link_.writes.onRefused = [this](const QString& why) {
        ctx_->prompts.message(QString(), why, MessageKind::Warning);
    };
}

// The link's log, progress and port state on screen, and the view tabs.
void Form1::connectLinkOutputs() {
    // The link's outputs on screen.
    link_.log.setOnLine([this](const QString& line) { appendLog(line); });
    link_.progress.setOnChange([this](const ProgressState& s) {
        Picture3->show(s);
        LabelProg->setText(ctx_->lang.translate(s.label));
    });
    link_.serial.onStatus = [this](const QString& s) {
        portStatus_ = s;
        if (!silent_)
            showPortState();
    };

    // Tabs. A click on the head already selected repeats its read, so the
    // click, not the change of the current index, selects.
    tabs_->onSelected = [this](int index) { showTab(index); };
    tabs_->onHeadsChanged = [this] { rebuildTabBar(); };
    connect(NavTab1, &QTabBar::tabBarClicked, this, [this](int pos) {
        if (pos >= 0)
            tabs_->SelectTab(NavTab1->tabData(pos).toInt());
    });
}

// The port box, the log-to-file boxes and the timers.
void Form1::connectPortAndLogControls() {
    connect(Combo2, &QComboBox::activated, this, [this](int i) {
        if (!ignorePortChoice_)
            choosePort(Combo2->itemData(i).toString());
    });
    connect(Combo2->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        const QString typed = Combo2->currentText().trimmed();
        // A name in the list is chosen by the list's own "activated".
        if (!ignorePortChoice_ && !typed.isEmpty() && Combo2->findText(typed) < 0 &&
            Combo2->findData(typed) < 0)
            choosePort(typed);
    });
    // Both boxes log the traffic to one file: ticked, a file is chosen and
    // every line goes to it from then on; no file chosen (or none that
    // opens), the box is unticked again. Unticking either closes the file.
    auto logToFile = [this](QCheckBox* box, QCheckBox* other, bool withHeader, bool on) {
        if (!on) {
            link_.log.closeFile();
            other->setChecked(false);
            return;
        }
        const QString path = ctx_->prompts.saveFile(QString(), QStringLiteral("txt{*.txt)|*.txt"));
        if (path.isEmpty()) {
            box->setChecked(false);
            return;
        }
        if (const Status opened = link_.log.openFile(path, withHeader); !opened) {
            box->setChecked(false);
            ctx_->prompts.message(QString(), opened.error(), MessageKind::Warning);
            return;
        }
        link_.log.setLogComs(true);
        other->setChecked(false);
    };
    connect(CheckLog, &QCheckBox::clicked, this,
            [this, logToFile](bool on) { logToFile(CheckLog, CheckLogComs, true, on); });
    connect(CheckLogComs, &QCheckBox::clicked, this,
            [this, logToFile](bool on) { logToFile(CheckLogComs, CheckLog, false, on); });

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(PollCycle::kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    // While the line is quiet a tick has nothing to do: the clock rests
    // until a frame goes out or characters come in, then counts the ticks
    // it rested, so that every time the views take from it stays true. A
    // laptop on battery is not woken fifty times a second for nothing.
    connect(&Timer1, &QTimer::timeout, this, [this] {
        link_.tick();
        updateStatus();
        if (link_.atRest()) {
            Timer1.stop();
            rested_.start();
        }
    });
    link_.serial.onActivity = [this] {
        if (!ticking_ || Timer1.isActive())
            return;
        if (rested_.isValid())
            link_.poll.restedTicks(static_cast<int>(rested_.elapsed() / PollCycle::kTickMs));
        rested_.invalidate();
        Timer1.start();
    };
    // USB adapters come and go while the tool runs. Their device files
    // appear in /dev: the list is refreshed a moment after it changes
    // (udev adds its links just after the node). Where /dev cannot be
    // watched, the list is refreshed every two seconds.
    portWatch_.setSingleShot(true);
    portWatch_.setInterval(500);
    connect(&portWatch_, &QTimer::timeout, this, &Form1::refreshPorts);
    connect(&devWatch_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (ticking_)
            portWatch_.start();
    });
    if (options_.listSystemPorts && options_.fixedPorts.isEmpty() &&
        !devWatch_.addPath(QStringLiteral("/dev"))) {
        portWatch_.setSingleShot(false);
        portWatch_.setInterval(2000);
    }
}

void Form1::applyLanguage() {
    setWindowTitle(ctx_->text(101, windowTitle()));
    file_->setTitle(ctx_->text(102, file_->title()));
    load_->setText(ctx_->text(103, load_->text()));
    save_->setText(ctx_->text(104, save_->text()));
    help_->setTitle(ctx_->text(105, help_->title()));
    about_->setText(ctx_->text(106, about_->text()));
    tools_->setTitle(ctx_->text(118, tools_->title()));
    fwupdate_->setText(ctx_->text(119, fwupdate_->text()));
    CommandDefauts->setText(ctx_->text(107, CommandDefauts->text()));
    CommandReset->setText(ctx_->text(108, CommandReset->text()));
    Command4_1->setText(ctx_->text(109, Command4_1->text()));
    Command4_0->setText(ctx_->text(110, Command4_0->text()));
    Label2->setText(ctx_->text(111, Label2->text()));
    changeProfile_->setText(ctx_->text(7020, changeProfile_->text()));
    // The views built before the catalogue was loaded take their captions now.
    comms_->applyLanguage();
    identity_->applyLanguage();
    rebuildTabBar();
    decorateMenus(menuBar(), asksMore_);
    applyCatalogue(this, *lang_);
}

void Form1::loadLanguage(const QString& name) {
    languageDll_ = name;
    lang_->LoadLangDll(languageDll_);
    if (!lang_->loadNote().isEmpty())
        link_.log.AddLog(lang_->loadNote());
    applyLanguage();
    // The status bar's texts in the catalogue now loaded.
    if (statusPort_) {
        showPortState();
        updateStatus();
    }
}

void Form1::startUp() {
    // The language catalogue: the stored name, else the one of the user's
    // language (and the key is written empty, so it can be found and set).
    languageDll_ = persist_->ReadIniValue(QStringLiteral("LANG_DLL")).value_or(QString());
    if (languageDll_.isEmpty()) {
        languageDll_ = lang_->GetDefaultDllName();
        persist_->WriteIniValue(QStringLiteral("LANG_DLL"), QString());
    }
    loadLanguage(languageDll_);

    // A traffic log file asked for on the command line gets everything from
    // the first frame on.
    if (!options_.logFile.isEmpty()) {
        if (const Status opened = link_.log.openFile(options_.logFile, true); !opened) {
            ctx_->prompts.message(QString(), opened.error(), MessageKind::Warning);
        } else {
            link_.log.setLogComs(true);
            CheckLog->setChecked(true);
        }
    }

    // The stored port, else the first offered; opening it starts the
    // identity read.
    refreshPorts();
    if (!options_.simulatedPort.isEmpty()) {
        choosePort(options_.simulatedPort);
    } else {
        QString stored = persist_->ReadIniValue(QStringLiteral("PORT")).value_or(QString());
        if (stored.isEmpty()) {
            stored = Combo2->count() > 0 ? Combo2->itemData(0).toString() : QString();
            persist_->WriteIniValue(QStringLiteral("PORT"), stored);
        }
        const int at = Combo2->findData(stored);
        if (Combo2->count() > 0)
            choosePort(Combo2->itemData(at >= 0 ? at : 0).toString());
    }
    link_.serial.ReplyReady = false;

    // Tools are offered when there is something to use them on.
    const QString folder =
        options_.startFolder.isEmpty() ? QDir::currentPath() : options_.startFolder;
    tools_->menuAction()->setVisible(false);
    fwupdate_->setVisible(false);
    changeProfile_->setVisible(false);
    if (anyFile(folder, QStringLiteral("*.pro"))) {
        tools_->menuAction()->setVisible(true);
        changeProfile_->setVisible(true);
    }
    if (anyFile(folder, QStringLiteral("*.bin"))) {
        tools_->menuAction()->setVisible(true);
        fwupdate_->setVisible(true);
    }
    auto offerAllTools = [this] {
        tools_->menuAction()->setVisible(true);
        fwupdate_->setVisible(true);
        changeProfile_->setVisible(true);
    };

    ctx_->mode = operatingModeFrom(*persist_);
    if (ctx_->mode.calibration)
        offerAllTools();
    tabs_->setHeadVisible(TabCalibration, ctx_->mode.calibration);
    setWindowWidthTwips(kNormalWidthTwips);

    CheckLog->setVisible(ctx_->mode.advanced);
    {
        // The fast link: the next frame leaves once the reply is in and the
        // unit's turnaround has passed, not at the next tick.
        const FastLinkSetting fast = fastLinkSetting(
            persist_->ReadIniValue(QStringLiteral("FASTLINK")).value_or(QString()),
            persist_->ReadIniValue(QStringLiteral("FASTLINKGAP")).value_or(QString()));
        if (!fast.note.isEmpty())
            link_.AddLog(fast.note);
        link_.setFast(fast.on, fast.gapMs);
        link_.scheduleAdvance = [this](int gapMs) {
            QTimer::singleShot(gapMs, Qt::PreciseTimer, this, [this] { link_.advanceNow(); });
        };
        CheckFastLink->setChecked(fast.on);
        CheckFastLink->setVisible(ctx_->mode.advanced);
        connect(CheckFastLink, &QCheckBox::clicked, this, [this](bool on) {
            link_.setFast(on, link_.fastGapMs());
            persist_->WriteIniValue(QStringLiteral("FASTLINK"),
                                    on ? QStringLiteral("1") : QStringLiteral("0"));
        });
    }
    if (ctx_->mode.advanced) {
        tabs_->setHeadVisible(TabCalibration, true);
        tabs_->setHeadVisible(TabDiagnostics, true);
        setWindowWidthTwips(kAdvancedWidthTwips);
        offerAllTools();
    }

    // CO2 and Comms heads and the comms frame wait until the unit's
    // configuration is known.
    tabs_->setHeadVisible(TabCO2, false);
    tabs_->setHeadVisible(TabComms, false);
    comms_->hide();
    ctx_->appid = -1;
    rebuildTabBar();

    restoreWindowPlace();

    ticking_ = true;
    Timer1.start();
    if (!portWatch_.isSingleShot())
        portWatch_.start();
    tabs_->SelectTab(TabDevice);
}

QRect fitOnScreen(const QRect& want, const QRect& available) {
    if (!available.isValid())
        return want;
    QRect r(want.topLeft(), want.size().boundedTo(available.size()));
    if (r.right() > available.right())
        r.moveRight(available.right());
    if (r.bottom() > available.bottom())
        r.moveBottom(available.bottom());
    if (r.left() < available.left())
        r.moveLeft(available.left());
    if (r.top() < available.top())
        r.moveTop(available.top());
    return r;
}

QRect Form1::availableArea() const {
    const QScreen* s = screen();
    return s ? s->availableGeometry() : QRect();
}

void Form1::restoreWindowPlace() {
    const QRect stored =
        rectFromText(persist_->ReadIniValue(QStringLiteral("WINDOW")).value_or(QString()));
    if (stored.isValid() && stored.width() >= 200 && stored.height() >= 150) {
        const QRect r = fitOnScreen(stored, availableArea());
        resize(r.size()
                   .expandedTo(minimumSizeHint())
                   .boundedTo(availableArea().isValid() ? availableArea().size()
                                                        : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)));
        move(r.topLeft());
    }
    const QStringList sizes =
        persist_->ReadIniValue(QStringLiteral("SPLITTER")).value_or(QString()).split(',');
    if (sizes.size() == 2) {
        bool ok1 = false, ok2 = false;
        const int a = sizes[0].toInt(&ok1), b = sizes[1].toInt(&ok2);
        if (ok1 && ok2 && a > 0 && b > 0)
            split_->setSizes({a, b});
    }
}

void Form1::storeWindowPlace() {
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    persist_->WriteIniValue(
        QStringLiteral("WINDOW"),
        QStringLiteral("%1,%2,%3,%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
    const QList<int> sizes = split_->sizes();
    if (sizes.size() == 2 && sizes[0] > 0 && sizes[1] > 0)
        persist_->WriteIniValue(QStringLiteral("SPLITTER"),
                                QStringLiteral("%1,%2").arg(sizes[0]).arg(sizes[1]));
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Whatever the panels asked for, the window fits the screen it opens on.
    const QRect avail = availableArea();
    if (avail.isValid() && !avail.contains(frameGeometry())) {
        const QSize frame = frameGeometry().size() - size();
        const QRect r =
            fitOnScreen(QRect(frameGeometry().topLeft(), frameGeometry().size()), avail);
        resize(r.size() - frame);
        move(r.topLeft());
    }
}

void Form1::setWindowWidthTwips(int twips) {
    // The designed width is a minimum: fonts and themes differ, and a caption
    // cut off helps nobody.
    designWidth_ = twipsToPixels(twips);
    // Open large enough for the biggest panel on offer (the diagnostics
    // panel in advanced mode), so no panel starts out scrolled or squeezed;
    // never larger than the screen.
    QSize content;
    // The CO2 head appears once the unit says it has a sensor: its panel
    // counts from the start, so its rows are not opened cut off.
    for (int i = 1; i <= 5; ++i)
        if (panels_[i] && (tabs_->headVisible(i) || i == TabCO2))
            content = content.expandedTo(panels_[i]->sizeHint());
    const int chromeHeight = sizeHint().height() - Picture1->sizeHint().height();
    QSize want(qMax(designWidth_, qMax(sizeHint().width(), content.width() + 40)),
               qMax(height(), content.height() + chromeHeight + 20));
    want = want.expandedTo(QSize(designWidth_, 0));
    if (availableArea().isValid())
        want = want.boundedTo(availableArea().size());
    resize(want);
}

void Form1::GetAppId() {
    ctx_->appid = appIdOf(link_.state);
}

void Form1::installCompletionSteps() {
    ViewTabs& tabs = *tabs_;
    // Registers read behind the identity proper that the unit left
    // unanswered: their boxes stay empty.
    auto unread = [this] { return identityOutcome(link_.poll).unreadAppended; };
    // Before the first selection: the comms settings and the Comms head.
    tabs.completion[TabNone] = [this, unread] {
        comms_->readControls(unread());
        tabs_->setHeadVisible(TabComms, true);
    };
    tabs.completion[TabCO2] = [this, unread] {
        comms_->readControls(unread());
        tabs_->setHeadVisible(TabComms, true);
        showTab(TabCO2);
    };
    tabs.completion[TabComms] = [this, unread] {
        comms_->readControls(unread());
        tabs_->setHeadVisible(TabComms, true);
        showTab(TabComms);
    };
    tabs.completion[TabDevice] = [this, unread] {
        if (hasFeature(link_.state, feature::Co2))
            tabs_->setHeadVisible(TabCO2, true);
        GetAppId();
        identity_->refresh();
        link_.log.AddLog(QStringLiteral("Identity read: ") + identity_->summary());
        if (hasFeature(link_.state, feature::Modbus) || hasFeature(link_.state, feature::Bacnet)) {
            comms_->readControls(unread());
            comms_->show();
        } else {
            comms_->hide();
        }
    };
    // The poll cycle completes a batch only on the reply to its last frame.
    // For the identity batch its own frames decide: a read appended behind
    // them that the unit leaves unanswered costs only its own field.
    link_.poll.subscribe([this](const BatchStats&, bool) {
        if (identityCompletesDespiteLoss(link_.poll))
            tabs_->runCompletion();
    });
}

// The desktop's writes say when they are done, and what the unit did not
// confirm.
void Form1::sayWhenWritten() {
    link_.writes.onWritten = [this](const QStringList& unconfirmed, int resent) {
        QString said = unconfirmed.isEmpty()
                           ? QStringLiteral("Written: the unit confirmed every write")
                           : QStringLiteral("Written, but the unit did not confirm: %1")
                                 .arg(unconfirmed.join(u' '));
        if (resent > 0)
            said += QStringLiteral(" (%1 sent again after a lost reply)").arg(resent);
        sayForAWhile(said, 15000);
        link_.log.AddLog(said);
    };
}

void Form1::watchForSilence() {
    link_.poll.subscribe([this](const BatchStats& s, bool) {
        // A guided run expects the unit to go quiet while it restarts, and
        // says so itself.
        if (tabs_->completionPaused())
            return;
        if (s.answered == 0 && s.lost > 0)
            setSilent(true);
        else if (s.answered > 0)
            setSilent(false);
    });
}

// A message in the port's field of the status bar for a while, then the
// port's state again: it wraps there rather than running into the frame
// counters, and the bar does not change its height for a one-line message.
void Form1::sayForAWhile(const QString& said, int ms) {
    const QString shown = ctx_->lang.translate(said);
    statusPort_->setText(shown);
    QTimer::singleShot(ms, statusPort_, [this, shown] {
        if (statusPort_->text() == shown)
            showPortState();
    });
}

void Form1::showPortState() {
    statusPort_->setText(ctx_->lang.translate(silent_ ? silentSaid_ : portStatus_));
}

void Form1::setSilent(bool silent) {
    if (silent == silent_)
        return;
    silent_ = silent;
    repliesAtSilence_ = link_.serial.counters.repliesDispatched;
    // The identity lines belong to a unit that is no longer answering: grey
    // until it answers again.
    identity_->setEnabled(!silent);
    if (silent) {
        const QString said =
            QStringLiteral("No unit answered on %1: check cable, power and port").arg(chosenPort_);
        silentSaid_ = said;
        showPortState();
        identity_->setToolTip(
            ctx_->lang.translate(QStringLiteral("Not current: the unit stopped answering")));
        link_.log.AddLog(said);
    } else {
        showPortState();
        identity_->setToolTip(QString());
    }
}

void Form1::showAbout() {
    frmAbout about(*lang_, this);
    about.exec();
}

void Form1::refreshPorts() {
    QList<PortEntry> ports;
    if (!options_.fixedPorts.isEmpty()) {
        for (const QString& name : options_.fixedPorts)
            ports.append(PortEntry{name, QString(), false});
    } else if (options_.listSystemPorts) {
        ports = ListPorts();
    }
    QString stored = options_.simulatedPort;
    if (stored.isEmpty())
        stored = persist_->ReadIniValue(QStringLiteral("PORT")).value_or(QString());
    // The port chosen stays offered and selected even when the system no
    // longer lists it (it is open, by us) or never did (a typed path).
    ports = offeredPorts(ports, stored, chosenPort_);
    const QString current = chosenPort_.isEmpty() ? Combo2->currentData().toString() : chosenPort_;
    QStringList names;
    for (const auto& p : ports)
        names << p.name;
    QStringList have;
    for (int i = 0; i < Combo2->count(); ++i)
        have << Combo2->itemData(i).toString();
    if (names == have)
        return;
    ignorePortChoice_ = true;
    Combo2->clear();
    for (const auto& p : ports) {
        Combo2->addItem(p.name, p.name);
        if (!p.description.isEmpty())
            Combo2->setItemData(Combo2->count() - 1, p.description, Qt::ToolTipRole);
    }
    const int at = Combo2->findData(current);
    if (at >= 0)
        Combo2->setCurrentIndex(at);
    ignorePortChoice_ = false;
}

void Form1::choosePort(const QString& name) {
    if (name.isEmpty())
        return;
    chosenPort_ = name;
    if (Combo2->findData(name) < 0)
        refreshPorts();
    if (name != options_.simulatedPort)
        persist_->WriteIniValue(QStringLiteral("PORT"), name);
    const int at = Combo2->findData(name);
    if (at >= 0) {
        ignorePortChoice_ = true;
        Combo2->setCurrentIndex(at);
        ignorePortChoice_ = false;
    }
    link_.choosePort(name);
    log_->markPortOpened();
    // The action of the "Connect" button: read the unit's identity.
    link_.SetProgress(0, 0);
    if (const auto& read = tabs_->readOnSelect[TabDevice])
        read();
}

void Form1::showTab(int index) {
    Picture1->setCurrentIndex(index - 1);
    for (int pos = 0; pos < NavTab1->count(); ++pos)
        if (NavTab1->tabData(pos).toInt() == index)
            NavTab1->setCurrentIndex(pos);
}

void Form1::rebuildTabBar() {
    const QString captions[6] = {
        QStringLiteral("A"),       ctx_->text(112, "CO2"),         ctx_->text(113, "Comms"),
        ctx_->text(117, "Device"), ctx_->text(114, "Calibration"), ctx_->text(115, "Diagnostics")};
    const QSignalBlocker block(NavTab1);
    while (NavTab1->count() > 0)
        NavTab1->removeTab(0);
    for (int index : kHeadOrder) {
        if (!tabs_->headVisible(index))
            continue;
        const int pos = NavTab1->addTab(captions[index]);
        NavTab1->setTabData(pos, index);
        if (index == tabs_->ActiveTab())
            NavTab1->setCurrentIndex(pos);
    }
}

void Form1::appendLog(const QString& line) {
    log_->append(ctx_->lang.translate(line));
}

QString countersText(const LinkCounters& c) {
    QString text = QStringLiteral("frames: %1 sent (%2 answered, %3 lost), %4 stale replies")
                       .arg(c.framesSent)
                       .arg(c.repliesDispatched)
                       .arg(c.repliesLost)
                       .arg(c.repliesStale);
    if (c.framesNotSent > 0)
        text += QStringLiteral(", %1 not sent (port closed)").arg(c.framesNotSent);
    return text;
}

QString countersToolTip(const LinkCounters& c) {
    return QStringLiteral("Frames sent: %1 (answered, lost or awaited now)\nReplies answered: "
                          "%2\nReplies lost (no answer in time): %3\nStale replies (answering "
                          "no frame in flight: late, doubled or noise): %4\nFrames not sent "
                          "(the port was closed): %5\nCharacters discarded (noise, damaged "
                          "replies): %6")
        .arg(c.framesSent)
        .arg(c.repliesDispatched)
        .arg(c.repliesLost)
        .arg(c.repliesStale)
        .arg(c.framesNotSent)
        .arg(c.charsDiscarded);
}

void Form1::updateStatus() {
    const LinkCounters& c = link_.serial.counters;
    statusCounters_->setText(ctx_->lang.translate(countersText(c)));
    // The next answer ends a silence.
    if (silent_ && c.repliesDispatched > repliesAtSilence_)
        setSilent(false);
    statusCounters_->setToolTip(ctx_->lang.translate(countersToolTip(c)));
}

void Form1::closeEvent(QCloseEvent* event) {
    // The CO2 sensor goes back to stream mode and the unit ends the
    // pass-through before the port closes. Those lines are only queued at
    // the port: closing it at once would drop them and leave the unit
    // passing everything to the sensor until it is power-cycled.
    if (link_.serial.Co2PassThrough && tabs_->co2Leave) {
        tabs_->co2Leave();
        link_.serial.flush(kCloseFlushMs);
    }
    storeWindowPlace();
    ticking_ = false;
    Timer1.stop();
    portWatch_.stop();
    link_.serial.close();
    // The other windows go with the main window.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    event->accept();
}

SitePanelWindow* Form1::openSitePlan(const QString& planPath) {
    if (sitePanel_)
        sitePanel_->close();
    auto* panel = new SitePanelWindow(*ctx_, planPath, this);
    if (!panel->error().isEmpty()) {
        ctx_->prompts.message(QStringLiteral("Open Site Plan"), panel->error(),
                              MessageKind::Warning);
        delete panel;
        return nullptr;
    }
    panel->setAttribute(Qt::WA_DeleteOnClose);
    sitePanel_ = panel;
    panel->show();
    return panel;
}

} // namespace gp
