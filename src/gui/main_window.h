#pragma once
// The main window (class Form1): port selector, view tabs with their panels, traffic log,
// progress bar, menus and the 20 ms poll timer. It owns the link to the unit
// and everything the views share.

#include "app/app_context.h"
#include "app/caption_catalogue.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QVBoxLayout;
class QGroupBox;
class QMenu;
class QAction;
class QSplitter;

namespace gp {

struct Co2Channel;

class ProgressWidget;
class TrafficLogView;
struct LinkCounters;

// The rectangle wanted, made no larger than the available area and moved
// into it.
QRect fitOnScreen(const QRect& want, const QRect& available);

// The link counters as the status bar shows them, and their explanation.
QString countersText(const LinkCounters& c);
QString countersToolTip(const LinkCounters& c);
class IdentityView;
class CommsView;
class Co2View;
class CalibrationView;
class DiagnosticsView;
class ConfigToolsView;
class FlashToolsView;
class SitePanelWindow;

struct Form1Options {
    QString settingsPath;    // the settings file
    QStringList langFolders; // where language catalogues are looked up
    QString simulatedPort;   // a port to offer and select without storing it
    QString logFile;         // the traffic log goes to this file from the start
    bool listSystemPorts = true;
    // Ports offered instead of the system's (tests); used when not empty.
    QStringList fixedPorts;
    // The folder searched for "*.pro" and "*.bin" at start-up; empty: the
    // current folder.
    QString startFolder;
    // Makes the serial port; empty: the system's serial port.
    std::function<std::unique_ptr<SerialPort>()> portFactory;
    // Makes the questions and file choosers; empty: real dialogs.
    std::function<std::unique_ptr<Prompts>()> promptsFactory;
    // The user's locale, for the default language catalogue's name.
    QLocale locale;
};

class Form1 : public QMainWindow {
    Q_OBJECT
  public:
    explicit Form1(const Form1Options& options, QWidget* parent = nullptr);
    ~Form1() override;

    AppContext& context() { return *ctx_; }
    // File > Open Site Plan... with the plan chosen: the site panel, or null
    // (and a message) when the plan or its record cannot be used.
    SitePanelWindow* openSitePlan(const QString& planPath);
    Link& link() { return link_; }
    ViewTabs& tabs() { return *tabs_; }

    // The window's parts, for the views and windows that extend it.
    QMenu* fileMenu() const { return file_; }
    QMenu* toolsMenu() const { return tools_; }
    QWidget* panel(int tab) const;

    // Refills the port list from the system, keeping the selection.
    void refreshPorts();
    // The port choice step: store "PORT", reopen, start the identity read.
    void choosePort(const QString& name);

    // appid from register 01: the high nibble of its top byte.
    void GetAppId();
    // The window's width as designed for the mode, in pixels (twips / 15);
    // the window is at least this wide.
    int designWidth() const { return designWidth_; }
    static constexpr int twipsToPixels(int twips) { return twips / 15; }
    // The name of the language catalogue in use.
    QString LanguageDll() const { return languageDll_; }
    // Loads the catalogue named (closing the one in use) and gives every
    // caption of the window and its views its text again.
    void loadLanguage(const QString& name);
    // Opens the about box as a modal window.
    void showAbout();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildUi();
    void buildPortRow(QWidget* central, QVBoxLayout* outer);
    void buildViews(QWidget* central, QVBoxLayout* outer);
    void buildLogAndProgress(QWidget* central, QVBoxLayout* outer);
    void buildStatusBar();
    void buildMenus();
    void connectMainButtons();
    void connectLinkOutputs();
    void connectPortAndLogControls();
    void applyLanguage();
    void sayForAWhile(const QString& said, int ms);
    // The port's state in the status bar: the silence said, or the port's
    // own status.
    void showPortState();
    void sayWhenWritten();
    void startUp();
    void showTab(int index);
    void rebuildTabBar();
    void appendLog(const QString& line);
    void updateStatus();
    void installCompletionSteps();
    // Says in words when a batch got no answer at all, once per silence.
    void watchForSilence();
    void setSilent(bool silent);
    void setWindowWidthTwips(int twips);
    QRect availableArea() const;
    // Size, place and splitter line as the engineer left them.
    void restoreWindowPlace();
    void storeWindowPlace();

    Link link_;
    std::unique_ptr<Persist> persist_;
    std::unique_ptr<LangDll> lang_;
    std::unique_ptr<CatalogueOnShow> catalogueOnShow_; // gone before lang_
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<ViewTabs> tabs_;
    std::unique_ptr<AppContext> ctx_;
    // The line through to the unit's CO2 sensor, beside the unit's link.
    std::unique_ptr<Co2Channel> co2Channel_;
    QPointer<SitePanelWindow> sitePanel_;
    Form1Options options_;

    QTimer Timer1;
    bool ticking_ = false; // Timer1 runs or rests (from start-up until closed)
    QElapsedTimer rested_; // since Timer1 rested
    QTimer portWatch_;
    QFileSystemWatcher devWatch_;
    QComboBox* Combo2 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Command4_0 = nullptr; // Write
    QPushButton* Command4_1 = nullptr; // Connect
    QPushButton* CommandDefauts = nullptr;
    QPushButton* CommandReset = nullptr;
    QTabBar* NavTab1 = nullptr;
    QStackedWidget* Picture1 = nullptr;
    QWidget* panels_[6] = {};
    TrafficLogView* log_ = nullptr;
    QPlainTextEdit* MsgLog = nullptr;
    QCheckBox* CheckLog = nullptr;
    QCheckBox* CheckLogComs = nullptr;
    QCheckBox* CheckFastLink = nullptr; // advanced mode: the fast link
    ProgressWidget* Picture3 = nullptr;
    QLabel* LabelProg = nullptr;
    QLabel* statusCounters_ = nullptr;
    QLabel* statusPort_ = nullptr;
    QMenu* file_ = nullptr;
    QMenu* tools_ = nullptr;
    QMenu* help_ = nullptr;
    QAction* load_ = nullptr;
    QAction* save_ = nullptr;
    QAction* quit_ = nullptr;
    QSplitter* split_ = nullptr;
    QAction* fwupdate_ = nullptr;
    QAction* changeProfile_ = nullptr;
    QMenu* avanced_ = nullptr;
    QAction* samba_ = nullptr;
    QAction* about_ = nullptr;
    QList<QAction*> asksMore_; // entries that open a window asking for more
    QString silentSaid_;       // the status bar's words while no unit answers

    IdentityView* identity_ = nullptr;
    CommsView* comms_ = nullptr;
    Co2View* co2_ = nullptr;
    CalibrationView* calibration_ = nullptr;
    DiagnosticsView* diagnostics_ = nullptr;
    ConfigToolsView* configTools_ = nullptr;
    FlashToolsView* flashTools_ = nullptr;
    QPushButton* Command13 = nullptr;
    bool ignorePortChoice_ = false;
    bool silent_ = false;
    int repliesAtSilence_ = 0;
    QString portStatus_; // the port's own state, shown again after a silence
    QString chosenPort_; // the port chosen last, offered whatever the system lists
    int designWidth_ = 0;
    QString languageDll_;
};

} // namespace gp
