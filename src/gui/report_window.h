#pragma once
// The "Commissioning Report" window: asks where to save the report, reads
// the unit (the views step aside: the Device view is selected, which ends a
// CO2 pass-through and any live poll), shows how far the read is, and writes
// the document, PDF or HTML by the file's extension. A lost reply is said and
// nothing is written.

#include "app/app_context.h"
#include "report/commissioning_report.h"

#include <QDialog>
#include <QTimer>
#include <memory>

class QLabel;

namespace gp {

class Co2Link;
class Co2Settings;

class ReportWindow : public QDialog {
    Q_OBJECT
  public:
    ReportWindow(AppContext& ctx, Co2Link* co2, Co2Settings* co2Settings,
                 QWidget* parent = nullptr);
    ~ReportWindow() override;

    // Asks for the file, then reads and writes. Answers the path written, or
    // an empty text (cancelled or failed; the engineer was told why).
    QString run();
    const QString& failure() const { return failure_; }

  private:
    void finishRead();

    AppContext& ctx_;
    Co2Link* co2_;
    Co2Settings* co2Settings_;
    std::unique_ptr<CommissioningReportRead> read_;
    QTimer timer_;
    QLabel* status_ = nullptr;
    QString path_;
    QString written_;
    QString failure_;
};

} // namespace gp
