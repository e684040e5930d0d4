#pragma once
// The five working views of the main window and what selecting one starts.
// Selecting a view abandons the running batch, ends the CO2 pass-through when
// leaving the CO2 view, shows the view's panel and starts the view's read.
// Selecting the view already on screen repeats all of it, read included.

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

    void SelectTab(int index);
    int ActiveTab() const { return link_.poll.ActiveTab; }

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
    std::array<bool, 6> visible_{false, false, false, true, false, false};
};

} // namespace gp
