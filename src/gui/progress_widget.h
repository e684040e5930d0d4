#pragma once
// The progress bar of the main window: a green or red bar over the
// fraction of the batch done.

#include "link/progress.h"

#include <QWidget>

namespace gp {

class ProgressWidget : public QWidget {
    Q_OBJECT
  public:
    explicit ProgressWidget(QWidget* parent = nullptr);
    void show(const ProgressState& state);
    QSize sizeHint() const override { return {200, 14}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    ProgressState state_;
};

} // namespace gp
