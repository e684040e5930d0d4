#pragma once
// The commissioning report: one document per unit handed over, saying who it
// is, how it is configured and calibrated, every register it holds, and a
// digest of the ".cfg" text it would save, so that a later compare can prove
// nothing changed. Every value comes from replies read in the same run: the
// read fails as a whole when a single reply is lost, and no document is made
// from old or missing values.

#include "link/link.h"
#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace gp {

class Co2Link;
class Co2Settings;
struct Co2Fields;
class LangDll;

// The reads behind a report, driven by tick() (every 100 ms): wait for the
// line to be free, the identity batch, every register (with the chip
// identifier), the calibration batch (status, screen rate), and on a unit
// with a CO2 sensor the sensor's settings through the pass-through, which is
// always ended again. The CO2 link is ticked by its owner, not here.
class CommissioningReportRead {
  public:
    static constexpr int kTickMs = 100;

    CommissioningReportRead(Link& link, Co2Link* co2 = nullptr, Co2Settings* co2Settings = nullptr);
    ~CommissioningReportRead();
    CommissioningReportRead(const CommissioningReportRead&) = delete;
    CommissioningReportRead& operator=(const CommissioningReportRead&) = delete;

    void tick();
    // The engineer gave up: a running batch is abandoned, the pass-through
    // ended.
    void cancel();

    bool finished() const { return step_ == Done || step_ == Failed; }
    bool ok() const { return step_ == Done; }
    // What was lost or went wrong, for the engineer; empty while fine.
    const QString& failure() const { return failure_; }
    const QString& status() const { return status_; }
    // Whether the report holds the sensor's settings.
    bool co2Read() const { return co2Read_; }

  private:
    enum Step { WaitIdle, Identity, Registers, Calibration, Co2Reading, Done, Failed };
    void start(Step step);
    void batchEnded(const BatchStats& stats);
    void fail(const QString& why);
    void leaveCo2();

    Link& link_;
    Co2Link* co2_;
    Co2Settings* co2Settings_;
    int subscription_ = 0;
    Step step_ = WaitIdle;
    int batchId_ = 0;
    std::optional<BatchStats> ended_;
    int ticksInStep_ = 0;
    int idleTicks_ = 0;
    bool inPassThrough_ = false;
    bool co2Read_ = false;
    QString failure_;
    QString status_;
};

struct ReportRow {
    QString name;
    QString value;
};

struct ReportSection {
    QString title;
    QList<ReportRow> rows;
};

struct ReportRegister {
    int number = 0;
    QString cls; // "N", "R", or empty for a layout this tool does not know
    int32_t value = 0;
};

struct CommissioningReport {
    QList<ReportSection> sections;
    QList<ReportRegister> registers; // 00..FF
    QString cfgSha256;               // hex, lower case
};

struct ReportHeader {
    QDateTime when;
    QString toolVersion;
    QString port;
};

// The report from the device state after a successful read. co2: the
// sensor's settings when they were read, else null (no CO2 section).
CommissioningReport buildCommissioningReport(DeviceState& state, const LangDll& lang,
                                             const ReportHeader& header, const Co2Fields* co2);

// The ".cfg" text the unit would save (the register lines, CR LF after each;
// the trailing comment lines are left out, since they carry the time of the
// save) and its SHA-256.
QByteArray cfgTextForDigest(const DeviceState& state);
QString cfgSha256(const DeviceState& state);

// A self-contained HTML document (UTF-8, no external resources).
QString commissioningReportHtml(const CommissioningReport& report);
// Writes a text file atomically; fails with why not.
Status writeReportFile(const QString& path, const QByteArray& data);

} // namespace gp
