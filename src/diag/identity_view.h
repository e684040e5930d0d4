#pragma once
// The five identity lines of the unit on the Device view (frame "Frame20").

#include "app/app_context.h"
#include "diag/identity.h"

#include <QWidget>

class QLabel;

namespace gp {

class IdentityView : public QWidget {
    Q_OBJECT
  public:
    IdentityView(AppContext& ctx, QWidget* parent = nullptr);

    // Shows the lines; the serial number and date code lines follow
    // lines.serialVisible, both ways.
    void showIdentity(const IdentityLines& lines);
    // ShowIdentity from the unit's state as it is now.
    void refresh();
    // The lines shown, on one line, for the traffic log.
    QString summary() const;
    // Captions from the language strings: the lines shown again, or before
    // the first identity the design-time captions a catalogue translates.
    void applyLanguage();

  private:
    AppContext& ctx_;
    QLabel* Label10[5] = {};
    bool shown_ = false;
};

} // namespace gp
