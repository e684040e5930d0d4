#include "app/view_tabs.h"

namespace gp {

ViewTabs::ViewTabs(Link& link) : link_(link) {
    subscription_ = link_.poll.subscribe(
        [this](const BatchStats&, bool completed) {
            if (completed)
                runCompletion();
        },
        true);
}

ViewTabs::~ViewTabs() {
    link_.poll.unsubscribe(subscription_);
}

void ViewTabs::runCompletion() {
    if (paused_ > 0 || activeTab_ < 0 || activeTab_ > 5)
        return;
    if (const auto& step = completion[static_cast<size_t>(activeTab_)])
        step();
}

void ViewTabs::SelectTab(int index) {
    if (index < 1 || index > 5)
        return;
    link_.SetProgress(0, 0);
    // Whatever batch still runs is abandoned: its remaining frames are never sent.
    link_.poll.abandon();
    // The pass-through must end before anything else goes to the unit.
    if (index != TabCO2 && ActiveTab() == TabCO2 && co2Leave)
        co2Leave();
    if (onSelected)
        onSelected(index);
    activeTab_ = index;
    if (const auto& read = readOnSelect[static_cast<size_t>(index)])
        read();
}

void ViewTabs::setHeadVisible(int index, bool on) {
    if (index < 0 || index > 5 || visible_[static_cast<size_t>(index)] == on)
        return;
    visible_[static_cast<size_t>(index)] = on;
    if (onHeadsChanged)
        onHeadsChanged();
}

} // namespace gp
