#include "link/progress.h"

#include <cmath>

namespace gp {

void Progress::SetProgress(double fraction, int mode) {
    if (std::isnan(fraction))
        fraction = 0.0;
    if (fraction > 0) {
        fraction = std::min(fraction, 1.0);
        if (mode == 2) {
            fraction = 0.0;
            state_.cleared = true;
        } else if (mode == 0 || mode == 1) {
            state_.cleared = false;
            state_.mode = mode;
        }
        // other modes draw nothing and keep the bar as it was
    } else {
        state_.cleared = true;
    }
    state_.fraction = state_.cleared ? 0.0 : fraction;
    state_.label = QString::number(std::lround(fraction * 100.0)) + '%';
    if (onChange_)
        onChange_(state_);
}

} // namespace gp
