#pragma once
// The five working views of the main window and what selecting one starts.
// Selecting a view abandons the running batch, ends the CO2 pass-through when
// leaving the CO2 view, shows the view's panel and starts the view's read.
// Selecting the view already on screen repeats all of it, read included.
// When a batch completes (its last frame answered), the completion step of
// the view on screen runs, unless a guided window has paused them.

#include "link/link.h"

#include <array>
#include <functional>

namespace gp {

enum Tab : int {
    TabNone = 0,
    TabCO2 = 1,
    TabComms = 2,
    TabDevice = 3,
    TabCalibration = 4,
    TabDiagnostics = 5
};

class ViewTabs {
  public:
    explicit ViewTabs(Link& link);
    ~ViewTabs();
    ViewTabs(const ViewTabs&) = delete;
    ViewTabs& operator=(const ViewTabs&) = delete;

    void SelectTab(int index);
    // The view on screen, 1..5 (0 before the first selection).
    int ActiveTab() const { return activeTab_; }
    // Sets the view on screen without selecting it (no read, no panel).
    void setActiveTab(int index) { activeTab_ = index; }

    // What each view does when a batch completes.
    std::array<std::function<void()>, 6> completion;
    // Runs the completion step of the view on screen, unless paused.
    void runCompletion();
    // While the firmware update, profile change or low-level flash window is
    // open no completion step runs: the window's own batches are not the
    // view's. Pauses nest.
    void pauseCompletion() { ++paused_; }
    void resumeCompletion() { paused_ = paused_ > 0 ? paused_ - 1 : 0; }
    // A guided window (an update, a profile change) holds the link and says
    // itself what the unit does, expected resets included.
    bool completionPaused() const { return paused_ > 0; }

    // The read each view starts when selected (filled by the views' owners).
    std::array<std::function<void()>, 6> readOnSelect;
    // Ends the CO2 sensor pass-through.
    std::function<void()> co2Leave;
    // The window shows the chosen panel and marks the chosen head.
    std::function<void(int index)> onSelected;

    // Heads shown: 3 always; 4 and 5 by mode; 1 and 2 once the unit's
    // configuration is known. Heads once shown stay shown.
    bool headVisible(int index) const { return visible_[static_cast<size_t>(index)]; }
    void setHeadVisible(int index, bool on);
    std::function<void()> onHeadsChanged;

  private:
    Link& link_;
    int activeTab_ = 0;
    int paused_ = 0;
    int subscription_ = 0;
    std::array<bool, 6> visible_{false, false, false, true, false, false};
};

} // namespace gp
