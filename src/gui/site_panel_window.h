#pragma once
// The site panel (File > Open Site Plan...): the plan's rows with their state
// from the site record, the connected unit's row selected once its identity
// is read, "Apply to connected unit" after a question naming the row's name,
// address, device id and template, and the selected unit's history.

#include "platform/qt_process_runner.h"
#include "site/site_plan.h"
#include "site/site_record.h"

#include <QDialog>
#include <memory>

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace gp {

struct AppContext;

namespace site {
class UnitApply;
}

class SitePanelWindow : public QDialog {
    Q_OBJECT
  public:
    // Reads the plan and opens its record (site.sqlite beside it); why
    // either failed is in error(), and the panel is then not to be shown.
    SitePanelWindow(AppContext& ctx, const QString& planPath, QWidget* parent = nullptr);
    ~SitePanelWindow() override;
    const QString& error() const { return error_; }

    // Runs the apply to the connected unit (asks first); false when refused.
    bool applyToConnectedUnit();
    bool applying() const;
    // The plan row shown as the connected unit's, -1 for none.
    int connectedRow() const { return connectedRow_; }
    QTableWidget* table() const { return table_; }
    // One step: the apply in flight, or the connected unit's row followed.
    // Driven by the panel's timer; tests that run the link in virtual time
    // call it themselves.
    void tick();

  protected:
    void reject() override;

  private:
    void refreshStates();
    void followIdentity();
    void showHistory();
    QString portName() const;

    AppContext& ctx_;
    site::SitePlan plan_;
    site::SiteRecord record_;
    std::unique_ptr<site::UnitApply> apply_;
    QtProcessRunner runner_;
    static constexpr int kIdleTickMs = 200;
    QString error_;
    QString seenUid_;
    int connectedRow_ = -1;
    QTableWidget* table_ = nullptr;
    QLabel* unit_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace gp
