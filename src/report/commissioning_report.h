#pragma once
// The commissioning report: one document per unit handed over, saying who it
// is, how it is configured and calibrated, every register it holds, and a
// digest of the ".cfg" text it would save, so that a later compare can prove
// nothing changed. Every value comes from replies read in the same run. A
// reply lost is read again; what the unit still does not answer is named on
// the report's first line ("Incomplete") and shown as not read, never as an
// old or made-up value, and the digest is given only when every register
// was read: the engineer needs the document most when something is wrong.

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

// What a report read did not get: the frames the unit did not answer (after
// reading them again) and the CO2 sensor's settings that stayed unread.
struct ReportGaps {
    QStringList frames;
    QStringList co2Items;
    bool empty() const { return frames.isEmpty() && co2Items.isEmpty(); }
};

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
    // The read ended and a report can be made; it may be incomplete.
    bool ok() const { return step_ == Done; }
    bool incomplete() const { return !gaps_.empty(); }
    const ReportGaps& gaps() const { return gaps_; }
    // A lost reply is read again at most this often.
    static constexpr int kRetries = 2;
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
    int retries_ = 0;
    ReportGaps gaps_;
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
    bool read = true; // false: the unit did not answer its read
};

struct CommissioningReport {
    QList<ReportSection> sections;
    QList<ReportRegister> registers; // 00..FF
    QString cfgSha256;               // hex, lower case; empty when a register was not read
    bool incomplete = false;
};

struct ReportHeader {
    QDateTime when;
    QString toolVersion;
    QString port;
};

// The report from the device state after the read. co2: the sensor's
// settings when they were read, else null (no CO2 section). gaps: what the
// read did not get; each value that hangs on it shows "not read", the first
// section says "Incomplete" and lists them, and no digest is given when a
// register is among them.
CommissioningReport buildCommissioningReport(DeviceState& state, const LangDll& lang,
                                             const ReportHeader& header, const Co2Fields* co2,
                                             const ReportGaps& gaps = {});

// The ".cfg" text the unit would save (the register lines, CR LF after each;
// the trailing comment lines are left out, since they carry the time of the
// save) and its SHA-256.
QByteArray cfgTextForDigest(const DeviceState& state);
QString cfgSha256(const DeviceState& state);

// What an incomplete report lacks, one entry a frame or CO2 setting.
QStringList incompleteParts(const ReportGaps& gaps);

// A self-contained HTML document (UTF-8, no external resources).
QString commissioningReportHtml(const CommissioningReport& report);
// Writes a text file atomically; fails with why not.
Status writeReportFile(const QString& path, const QByteArray& data);

} // namespace gp
