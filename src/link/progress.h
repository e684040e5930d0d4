#pragma once
// The progress bar that batches drive: a fraction, a colour mode and the
// percentage label. Core keeps the state; a view draws it.

#include <QString>
#include <functional>

namespace gp {

struct ProgressState {
    double fraction = 0.0; // 0..1 as drawn
    int mode = 0;          // 0 green, 1 red
    bool cleared = true;   // nothing drawn
    QString label = QStringLiteral("0%");
};

class Progress {
  public:
    // mode 0 green bar, 1 red bar, 2 reset; fractions above 1 draw a full bar.
    void SetProgress(double fraction, int mode);
    const ProgressState& state() const { return state_; }
    void setOnChange(std::function<void(const ProgressState&)> f) { onChange_ = std::move(f); }

  private:
    ProgressState state_;
    std::function<void(const ProgressState&)> onChange_;
};

} // namespace gp
