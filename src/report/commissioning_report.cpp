#include "report/commissioning_report.h"
#include "unit/chips.h"

#include "calib/calibration.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "config/comms_settings.h"
#include "diag/diagnostics.h"
#include "diag/identity.h"
#include "link/codec.h"
#include "platform/atomic_file.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"

#include <QCryptographicHash>
#include <QLocale>

namespace gp {

namespace {

// The sensor sequences are done; a last reply may still be on its way.
constexpr int kCo2SettleTicks = 6;
// The sensor never got through its read: 15 s.
constexpr int kCo2TimeoutTicks = 150;
// A batch that never ends (the port went away): 60 s.
constexpr int kBatchTimeoutTicks = 600;

// Settings the sensor's read-all clears and reads again.
struct Co2Item {
    int field;
    const char* name;
    const char* unit;
};
constexpr Co2Item kCo2Items[] = {
    {FieldFilter, "Filter", ""},
    {FieldAmbient, "Ambient concentration", " ppm"},
    {FieldInitialDays, "Initial autocalibration interval", " days"},
    {FieldIntervalDays, "Autocalibration interval", " days"},
    {FieldCalConcentration, "Autocalibration concentration", " ppm"},
};
// Read too, but not cleared by the read-all: cleared here first.
constexpr Co2Item kCo2RawItems[] = {
    {FieldInitialRaw, "Initial autocalibration interval (stored)", ""},
    {FieldIntervalRaw, "Autocalibration interval (raw)", ""},
};
constexpr Co2Item kCo2AdvancedItems[] = {
    {FieldProportion, "Autocalibration proportion", ""},
    {FieldThreshold, "Autocalibration threshold", " ppm"},
};
const QString kUnread = QStringLiteral("---");

bool co2FieldRead(const Co2Fields& f, int field) {
    const QString& t = f.text.at(static_cast<size_t>(field));
    return !t.trimmed().isEmpty() && t != kUnread;
}

const char* const kTrimNames[5] = {"Temperature C", "Humidity C", "CO2 C", "Temperature B",
                                   "Temperature A"};
const char* const kFilterNames[7] = {"Temperature", "Humidity", "CO2",    "Lux",
                                     "Outside",     "Floor",    "Network"};

QString afterCaption(const QString& line) {
    const int colon = line.indexOf(QLatin1Char(':'));
    return colon < 0 ? line : line.mid(colon + 1).trimmed();
}

QString hex32(int32_t v) {
    return QStringLiteral("%1").arg(static_cast<uint32_t>(v), 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

CommissioningReportRead::CommissioningReportRead(Link& link, Co2Link* co2, Co2Settings* co2Settings)
    : link_(link), co2_(co2), co2Settings_(co2Settings) {
    // The batch's own counts, taken as it ends: the completion step of the
    // view on screen may start the next batch straight away.
    subscription_ = link_.poll.subscribe([this](const BatchStats& s, bool) { batchEnded(s); });
    status_ = QStringLiteral("Waiting for the line.");
}

CommissioningReportRead::~CommissioningReportRead() {
    leaveCo2();
    link_.poll.unsubscribe(subscription_);
}

void CommissioningReportRead::batchEnded(const BatchStats& stats) {
    if (batchId_ != 0 && stats.id == batchId_)
        ended_ = stats;
}

void CommissioningReportRead::fail(const QString& why) {
    leaveCo2();
    failure_ = why;
    status_ = why;
    step_ = Failed;
}

void CommissioningReportRead::leaveCo2() {
    if (!inPassThrough_ || !co2_)
        return;
    inPassThrough_ = false;
    co2_->Co2Leave();
}

void CommissioningReportRead::cancel() {
    if (finished())
        return;
    if (batchId_ != 0 && !link_.poll.outcome(batchId_).displaced && link_.busy())
        link_.poll.abandon();
    fail(QStringLiteral("The report was cancelled."));
}

void CommissioningReportRead::start(Step step) {
    step_ = step;
    ticksInStep_ = 0;
    retries_ = 0;
    ended_.reset();
    switch (step) {
    case Identity:
        status_ = QStringLiteral("Reading the identity...");
        batchId_ = IdentityRead(link_);
        break;
    case Registers:
        status_ = QStringLiteral("Reading every register...");
        batchId_ = link_.startBatch(readAllFrames());
        break;
    case Calibration:
        status_ = QStringLiteral("Reading the calibration...");
        batchId_ = CalibrationRead(link_);
        break;
    case Co2Reading:
        status_ = QStringLiteral("Reading the CO2 sensor...");
        batchId_ = 0;
        idleTicks_ = 0;
        // Fields the read-all does not clear are cleared here, so that what
        // the report shows is what the sensor answered now.
        for (const Co2Item& item : kCo2RawItems)
            co2Settings_->setText(item.field, kUnread);
        for (const Co2Item& item : kCo2AdvancedItems)
            co2Settings_->setText(item.field, kUnread);
        inPassThrough_ = true;
        co2_->Co2Enter();
        return;
    default:
        return;
    }
    if (batchId_ == 0)
        fail(QStringLiteral("The read could not be started."));
}

void CommissioningReportRead::tick() {
    if (finished())
        return;
    ++ticksInStep_;
    switch (step_) {
    case WaitIdle:
        if (!link_.busy())
            start(Identity);
        else if (ticksInStep_ > kBatchTimeoutTicks)
            fail(QStringLiteral("The line did not become free."));
        return;
    case Identity:
    case Registers:
    case Calibration: {
        if (!ended_) {
            if (link_.poll.outcome(batchId_).displaced)
                fail(QStringLiteral("Another read took over the line; nothing was reported."));
            else if (ticksInStep_ > kBatchTimeoutTicks)
                fail(QStringLiteral("The unit stopped answering."));
            return;
        }
        // A frame answered now was read, whatever an earlier batch lost.
        for (const QString& frame : link_.poll.batchFrames())
            if (!ended_->lostFrames.contains(frame))
                gaps_.frames.removeAll(frame);
        if (ended_->lost > 0) {
            // Read again what was lost, as every command does; what the unit
            // still does not answer is named on the report, not made up.
            const QStringList lost = ended_->lostFrames;
            ended_.reset();
            if (retries_ < kRetries) {
                ++retries_;
                ticksInStep_ = 0;
                batchId_ = link_.startBatch(lost);
                if (batchId_ != 0)
                    return;
            }
            for (const QString& frame : lost)
                if (!gaps_.frames.contains(frame))
                    gaps_.frames << frame;
        }
        if (step_ == Identity) {
            start(Registers);
        } else if (step_ == Registers) {
            start(Calibration);
        } else if (hasFeature(link_.state, feature::Co2)) {
            if (!co2_ || !co2Settings_) {
                fail(QStringLiteral("The unit has a CO2 sensor, which this report cannot read."));
                return;
            }
            start(Co2Reading);
        } else {
            step_ = Done;
            status_ = QStringLiteral("Read.");
        }
        return;
    }
    case Co2Reading: {
        idleTicks_ = co2_->idle() ? idleTicks_ + 1 : 0;
        if (idleTicks_ >= kCo2SettleTicks || ticksInStep_ > kCo2TimeoutTicks) {
            const Co2Fields& f = co2Settings_->fields();
            QStringList lost;
            for (const Co2Item& item : kCo2Items)
                if (!co2FieldRead(f, item.field))
                    lost << QString::fromLatin1(item.name);
            for (const Co2Item& item : kCo2RawItems)
                if (!co2FieldRead(f, item.field))
                    lost << QString::fromLatin1(item.name);
            if (f.advancedRows)
                for (const Co2Item& item : kCo2AdvancedItems)
                    if (!co2FieldRead(f, item.field))
                        lost << QString::fromLatin1(item.name);
            leaveCo2();
            gaps_.co2Items << lost;
            co2Read_ = true;
            step_ = Done;
            status_ = QStringLiteral("Read.");
        }
        return;
    }
    default:
        return;
    }
}

QByteArray cfgTextForDigest(const DeviceState& state) {
    QByteArray text;
    for (const QString& line : cfgLines(state, false))
        text += line.toLatin1() + "\r\n";
    return text;
}

QString cfgSha256(const DeviceState& state) {
    return QString::fromLatin1(
        QCryptographicHash::hash(cfgTextForDigest(state), QCryptographicHash::Sha256).toHex());
}

namespace {

QStringList readsOf(int first, int last) {
    QStringList frames;
    for (int r = first; r <= last; ++r)
        frames << BuildRead(r);
    return frames;
}

// Each value of the report and the frames it comes from: a value one of
// whose frames the unit did not answer is not read, whatever the cache
// holds.
struct Sources {
    const ReportGaps& gaps;
    bool lost(const QStringList& frames) const {
        for (const QString& f : frames)
            if (gaps.frames.contains(f))
                return true;
        return false;
    }
    QString shown(const QStringList& frames, const QString& value) const {
        return lost(frames) ? QStringLiteral("not read") : value;
    }
};

const QStringList kUniqueIdFrames{QStringLiteral(":U00#"), QStringLiteral(":U01#"),
                                  QStringLiteral(":U02#"), QStringLiteral(":U03#")};

} // namespace

CommissioningReport buildCommissioningReport(DeviceState& state, const LangDll& lang,
                                             const ReportHeader& header, const Co2Fields* co2,
                                             const ReportGaps& gaps) {
    const QLocale c = QLocale::c();
    const Sources src{gaps};
    state.refreshRegRecord();
    CommissioningReport r;
    r.incomplete = !gaps.empty();
    if (r.incomplete) {
        // The first thing the reader sees: what this document lacks.
        ReportSection missing{QStringLiteral("Incomplete"), {}};
        for (const QString& frame : gaps.frames)
            missing.rows.append({frame, QStringLiteral("the unit did not answer")});
        for (const QString& item : gaps.co2Items)
            missing.rows.append(
                {QStringLiteral("CO2 ") + item, QStringLiteral("the sensor did not answer")});
        r.sections.append(missing);
    }
    r.sections.append({QStringLiteral("Report"),
                       {{QStringLiteral("Date and time"), header.when.toString(Qt::ISODate)},
                        {QStringLiteral("Tool version"), header.toolVersion},
                        {QStringLiteral("Port"), header.port}}});

    const IdentityLines id = ShowIdentity(state, lang, c);
    const uint32_t chip = static_cast<uint32_t>(state.IdentU05);
    const QString chipName = unit::chipNameOf(chip).value_or(QStringLiteral("unknown"));
    const QStringList serial = readsOf(0x03, 0x03);
    const QStringList productName = readsOf(0x0D, 0x0F);
    r.sections.append(
        {QStringLiteral("Identity"),
         {{QStringLiteral("Unique id"), src.shown(kUniqueIdFrames, afterCaption(id.uniqueId))},
          {QStringLiteral("Serial number"),
           src.shown(serial,
                     id.serialVisible ? afterCaption(id.serialNumber) : QStringLiteral("none"))},
          {QStringLiteral("Date code"),
           src.shown(serial + readsOf(0x02, 0x02),
                     id.serialVisible ? afterCaption(id.dateCode) : QStringLiteral("none"))},
          {QStringLiteral("Product type"), src.shown(productName, afterCaption(id.productType))},
          {QStringLiteral("Firmware version"),
           src.shown({QStringLiteral(":U04#")}, afterCaption(id.firmwareVersion))},
          {QStringLiteral("Chip"),
           src.shown({QStringLiteral(":U05#")},
                     QStringLiteral("%1 (%2)").arg(chipName, hex32(state.IdentU05)))}}});

    const QStringList features = featureNames(state.RegRecord.asInt(1));
    const QStringList reg01 = readsOf(0x01, 0x01);
    r.sections.append(
        {QStringLiteral("Product configuration"),
         {{QStringLiteral("Application id"), src.shown(reg01, QString::number(appIdOf(state)))},
          {QStringLiteral("Features"),
           src.shown(reg01, features.isEmpty() ? QStringLiteral("none")
                                               : features.join(QStringLiteral(", ")))},
          {QStringLiteral("Vendor id"),
           src.shown(readsOf(0x04, 0x04),
                     QString::number(static_cast<int16_t>(state.RegRecord.asInt(4) & 0xFFFF)))},
          {QStringLiteral("Vendor"),
           src.shown(readsOf(0x05, 0x0C), nameFromRegisters(state, 0x05, 8))},
          {QStringLiteral("Product"), src.shown(productName, nameFromRegisters(state, 0x0D, 3))}}});

    const CommsSettings comms = decodeComms(state.RegRecord.asInt(kCommsRegister));
    auto caption = [](const QStringList& list, int i) {
        return i >= 0 && i < list.size() ? list.at(i) : QStringLiteral("unknown (%1)").arg(i);
    };
    const int32_t instance = state.RegRecord.asInt(kDeviceIdRegister);
    const QStringList commsReg = readsOf(kCommsRegister, kCommsRegister);
    r.sections.append(
        {QStringLiteral("Comms"),
         {{QStringLiteral("Bus address"), src.shown(commsReg, QString::number(comms.address))},
          {QStringLiteral("Baud rate"), src.shown(commsReg, caption(baudCaptions(), comms.baud))},
          {QStringLiteral("Parity"),
           src.shown(commsReg, caption(parityCaptions(lang), comms.parity))},
          {QStringLiteral("Stop bits"),
           src.shown(commsReg, caption(stopBitCaptions(lang), comms.stop))},
          {QStringLiteral("Device instance"),
           src.shown(readsOf(kDeviceIdRegister, kDeviceIdRegister),
                     instance == 0 ? QStringLiteral("0 (automatic)")
                                   : QString::number(instance))}}});

    const CalibrationDisplay cal = ShowCalibration(state, c);
    ReportSection calib{QStringLiteral("Calibration"), {}};
    for (int i = 0; i < cal.coefficientRows.size(); ++i) {
        const QString& row = cal.coefficientRows.at(i);
        calib.rows.append(
            {row.section(QLatin1Char('\t'), 0, 0),
             src.shown(readsOf(0x10 + i, 0x10 + i), row.section(QLatin1Char('\t'), 1))});
    }
    for (size_t i = 0; i < cal.trims.size(); ++i)
        calib.rows.append({QStringLiteral("Trim ") + QString::fromLatin1(kTrimNames[i]),
                           src.shown(readsOf(0x1A + int(i), 0x1A + int(i)), cal.trims[i])});
    for (size_t i = 0; i < cal.filterIndex.size(); ++i)
        calib.rows.append(
            {QStringLiteral("Filter ") + QString::fromLatin1(kFilterNames[i]),
             src.shown(readsOf(0x1F, 0x20), caption(filterItems(), cal.filterIndex[i]))});
    calib.rows.append(
        {QStringLiteral("Screen rate"),
         src.shown({BuildItemRead('D', 0x0A)}, caption(screenRateItems(), state.DiagItem10))});
    calib.rows.append(
        {QStringLiteral("Analogue outputs fitted"),
         src.shown(reg01, cal.calibrateEnabled ? QStringLiteral("yes") : QStringLiteral("no"))});
    r.sections.append(calib);

    if (co2) {
        ReportSection s{QStringLiteral("CO2 sensor"), {}};
        auto add = [&](const Co2Item& item) {
            const QString name = QString::fromLatin1(item.name);
            s.rows.append({name, gaps.co2Items.contains(name)
                                     ? QStringLiteral("not read")
                                     : co2->text.at(static_cast<size_t>(item.field)) +
                                           QString::fromLatin1(item.unit)});
        };
        for (const Co2Item& item : kCo2Items)
            add(item);
        for (const Co2Item& item : kCo2RawItems)
            add(item);
        if (co2->advancedRows)
            for (const Co2Item& item : kCo2AdvancedItems)
                add(item);
        r.sections.append(s);
    }

    const int layout = LayoutCode(state);
    bool everyRegister = !src.lost({BuildStatus()});
    for (int reg = 0; reg < 256; ++reg) {
        const bool read = !src.lost({BuildRead(reg)});
        everyRegister = everyRegister && read;
        r.registers.append(
            {reg, RegisterClass(layout, reg), state.RegCache[static_cast<size_t>(reg)], read});
    }
    // The digest proves what the unit held: only of a whole read.
    if (everyRegister)
        r.cfgSha256 = cfgSha256(state);
    return r;
}

QStringList incompleteParts(const ReportGaps& gaps) {
    QStringList parts = gaps.frames;
    for (const QString& item : gaps.co2Items)
        parts << QStringLiteral("CO2 ") + item;
    return parts;
}

QString commissioningReportHtml(const CommissioningReport& report) {
    QString title = QStringLiteral("%1Commissioning report")
                        .arg(report.incomplete ? QStringLiteral("Incomplete: ") : QString());
    for (const ReportSection& s : report.sections)
        for (const ReportRow& row : s.rows)
            if (row.name == QLatin1String("Unique id"))
                title += QStringLiteral(" ") + row.value;
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>") +
         title.toHtmlEscaped() + QStringLiteral("</title>\n");
    h += QStringLiteral("<style>\n"
                        "body { font-family: sans-serif; font-size: 10pt; margin: 2em; }\n"
                        "h1 { font-size: 16pt; } h2 { font-size: 12pt; margin-top: 1.5em; }\n"
                        "table { border-collapse: collapse; }\n"
                        "th, td { border: 1px solid #999; padding: 2px 8px; text-align: left; }\n"
                        "th { background: #e8e8e8; }\n"
                        "td.num, td.val { font-family: monospace; }\n"
                        "</style>\n</head>\n<body>\n");
    h += QStringLiteral("<h1>") + title.toHtmlEscaped() + QStringLiteral("</h1>\n");
    for (const ReportSection& s : report.sections) {
        h += QStringLiteral("<h2>") + s.title.toHtmlEscaped() + QStringLiteral("</h2>\n<table>\n");
        for (const ReportRow& row : s.rows)
            h += QStringLiteral("<tr><th>") + row.name.toHtmlEscaped() +
                 QStringLiteral("</th><td class=\"val\">") + row.value.toHtmlEscaped() +
                 QStringLiteral("</td></tr>\n");
        h += QStringLiteral("</table>\n");
    }
    h += QStringLiteral(
             "<h2>Configuration digest</h2>\n<table>\n<tr><th>SHA-256 of the .cfg text "
             "(register and status lines, CR LF)</th><td class=\"val\" id=\"cfg-sha256\">") +
         (report.cfgSha256.isEmpty() ? QStringLiteral("not given: not every register was read")
                                     : report.cfgSha256) +
         QStringLiteral("</td></tr>\n</table>\n");
    h += QStringLiteral("<h2>Registers</h2>\n<table id=\"registers\">\n"
                        "<tr><th>Register (.cfg line)</th><th>Value as the .cfg file writes it</th>"
                        "<th>Value</th></tr>\n");
    for (const ReportRegister& reg : report.registers)
        h += QStringLiteral("<tr><td class=\"num\">%1</td><td class=\"num\">%2</td>"
                            "<td class=\"num\">%3</td></tr>\n")
                 .arg(cfgRegisterLabel(reg.number, reg.cls).toHtmlEscaped(),
                      reg.read ? HexLong(reg.value) : QStringLiteral("not read"),
                      reg.read ? QString::number(reg.value) : QStringLiteral("not read"));
    h += QStringLiteral("</table>\n</body>\n</html>\n");
    return h;
}

Status writeReportFile(const QString& path, const QByteArray& data) {
    return writeFileAtomically(path, data);
}

} // namespace gp
