#pragma once
// "Profile Change" (class Form3): the window around the profile change's state machine.

#include "config/profile_change.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace gp {

struct AppContext;

class Form3 : public QDialog {
    Q_OBJECT
  public:
    explicit Form3(AppContext& ctx, QWidget* parent = nullptr);
    ~Form3() override;

  private:
    void refresh();

    AppContext& ctx_;
    ProfileChange machine_;
    QLabel* label1_;
    QPushButton* command2_;
};

} // namespace gp
