#include "gui/progress_widget.h"

#include <QPainter>

namespace gp {

ProgressWidget::ProgressWidget(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(12);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressWidget::show(const ProgressState& state) {
    state_ = state;
    update();
}

void ProgressWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    if (!state_.cleared && state_.fraction > 0) {
        const int w = static_cast<int>(width() * state_.fraction);
        p.fillRect(QRect(0, 0, w, height()),
                   state_.mode == 1 ? QColor(255, 0, 0) : QColor(0, 255, 0));
    }
    p.setPen(palette().mid().color());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace gp
