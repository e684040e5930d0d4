// Commands of the diagnostics and calibration views: the diagnostics read,
// the live polls as CSV, the calibration read and the output calibration.
#include "calib/calibration.h"
#include "cli/cli_session.h"
#include "diag/debug_tools.h"
#include "diag/diagnostics.h"
#include "diag/identity.h"
#include "link/codec.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <optional>

namespace gp::cli {

namespace {

constexpr int kDiagBatchTimeoutMs = 10000;
const char* const kTrimNames[5] = {"temperature C", "humidity C", "CO2 C", "temperature B",
                                   "temperature A"};
const char* const kFilterNames[7] = {"temperature", "humidity", "CO2",    "lux",
                                     "outside",     "floor",    "network"};

bool noArguments(CliSession& s, const QString& command, const QStringList& args) {
    if (args.isEmpty())
        return true;
    s.err(QStringLiteral("%1: unexpected argument '%2'").arg(command, args.first()));
    return false;
}

// What a frame of these reads fills in, for the message that names what a
// command could not read.
QString frameMeaning(const QString& frame) {
    static const QHash<QString, QString> meaning{
        {BuildStatus(), QStringLiteral("last reset cause")},
        {BuildItemRead('U', 0x05), QStringLiteral("processor chip id")},
        {BuildItemRead('D', 0x03), QStringLiteral("debug flags")},
        {BuildItemRead('D', 0x0A), QStringLiteral("SPI/screen rate")},
        {BuildRead(0x01), QStringLiteral("features and app id")},
        {BuildRead(0x04), QStringLiteral("vendor id")},
    };
    return meaning.value(frame);
}

// Reads the frames, reading a lost reply again a few times. When a reply is
// still missing, says which and answers false: a value that was not read is
// never printed as the unit's.
bool readAll(CliSession& s, const QStringList& frames, const QString& what) {
    const QStringList unread = s.readFrames(frames);
    if (unread.isEmpty())
        return true;
    QStringList named;
    for (const QString& f : unread) {
        const QString m = frameMeaning(f);
        named << (m.isEmpty() ? f : QStringLiteral("%1 (%2)").arg(f, m));
    }
    s.err(QStringLiteral("The unit did not answer the %1 for %2 frame(s): %3. Nothing is shown.")
              .arg(what)
              .arg(unread.size())
              .arg(named.join(QStringLiteral(", "))));
    s.set(QStringLiteral("unread"), QJsonArray::fromStringList(unread));
    return false;
}

int diag(CliSession& s, const QStringList& args) {
    if (!noArguments(s, QStringLiteral("diag"), args))
        return s.finish(ExitUsage);
    if (!s.connect())
        return s.finish(ExitFailed);
    if (!readAll(s, diagnosticsFrames(), QStringLiteral("diagnostics read")))
        return s.finish(ExitFailed);
    // Every debug item that holds a value, so that each row printed was read.
    if (!readAll(s, debugValueFrames(), QStringLiteral("debug value read")))
        return s.finish(ExitFailed);
    DeviceState& st = s.link().state;
    const DiagnosticsDisplay d = ShowDiagnostics(st);
    const QString cause = d.resetCause.value_or(
        QStringLiteral("unknown code %1").arg((static_cast<uint32_t>(st.StatusFlags) >> 8) & 0xFF));
    const QString chip = d.chipName.value_or(QStringLiteral("unknown"));
    QStringList flags;
    for (int i = 0; i < 32; ++i) {
        if (d.debugFlags[static_cast<size_t>(i)])
            flags << QString::number(i);
    }
    const QStringList features = featureNames(st.RegCache[0x01]);
    const QStringList debugValues = ListReadDebugValues(st);
    s.out(QStringLiteral("Last Reset Cause: ") + cause);
    s.out(QStringLiteral("Processor ChipID: %1 %2").arg(d.chipIdHex, chip));
    s.out(QStringLiteral("Debug flags: %1 (bits %2)")
              .arg(QStringLiteral("%1")
                       .arg(static_cast<uint32_t>(st.HWTestFlags), 8, 16, QLatin1Char('0'))
                       .toUpper(),
                   flags.isEmpty() ? QStringLiteral("none") : flags.join(',')));
    s.out(QStringLiteral("Features: ") + features.join(QStringLiteral(", ")));
    s.out(QStringLiteral("AppId: %1").arg(d.appIndex));
    s.out(QStringLiteral("VendorId: ") + d.vendorId);
    s.out(QStringLiteral("Vendor: ") + d.vendorName);
    s.out(QStringLiteral("Product: ") + d.productName);
    s.out(QStringLiteral("SPI Rate: ") + d.spiRate);
    for (const QString& row : debugValues)
        s.out(row);
    s.set(QStringLiteral("resetCause"), cause);
    s.set(QStringLiteral("chipId"), d.chipIdHex);
    s.set(QStringLiteral("chip"), chip);
    s.set(QStringLiteral("debugFlags"), static_cast<qint64>(static_cast<uint32_t>(st.HWTestFlags)));
    s.set(QStringLiteral("features"), QJsonArray::fromStringList(features));
    s.set(QStringLiteral("appId"), d.appIndex);
    s.set(QStringLiteral("vendorId"), d.vendorId.toInt());
    s.set(QStringLiteral("vendor"), d.vendorName);
    s.set(QStringLiteral("product"), d.productName);
    s.set(QStringLiteral("spiRate"), d.spiRate.toInt());
    s.set(QStringLiteral("debugValues"), QJsonArray::fromStringList(debugValues));
    return s.finish(ExitOk);
}

// One group of CSV columns of "watch": the frames of its read and the
// values it shows after the read. More sources join here (the CO2 sensor).
struct WatchSource {
    QStringList header;
    QStringList frames;
    std::function<QStringList(const DeviceState&)> values;
    // For each column, the frame (index into frames) its value comes from.
    QList<int> columnFrame;
};

std::optional<int> intOption(CliSession& s, QStringList& args, const QString& name, int min,
                             int max, bool& bad) {
    const auto text = CliSession::takeOption(args, name);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int v = text->toInt(&ok);
    if (!ok || v < min || v > max) {
        s.err(QStringLiteral("watch: %1 takes a number %2..%3, not '%4'")
                  .arg(name)
                  .arg(min)
                  .arg(max)
                  .arg(*text));
        bad = true;
        return std::nullopt;
    }
    return v;
}

int watch(CliSession& s, QStringList args) {
    // The CO2 level comes through the sensor pass-through, a watch of its own,
    // wherever --co2 stands among the options.
    if (CliSession::takeFlag(args, QStringLiteral("--co2"))) {
        for (const Command& c : allCommands())
            if (c.name == QStringLiteral("watch --co2"))
                return c.run(s, args);
    }
    bool bad = false;
    const auto channel = intOption(s, args, QStringLiteral("--a2d"), 0, 12, bad);
    const auto interval = intOption(s, args, QStringLiteral("--interval"), 0, 3600000, bad);
    const auto count = intOption(s, args, QStringLiteral("--count"), 1, 100000000, bad);
    bool sensors = CliSession::takeFlag(args, QStringLiteral("--sensors"));
    if (bad)
        return s.finish(ExitUsage);
    if (!noArguments(s, QStringLiteral("watch"), args))
        return s.finish(ExitUsage);
    std::optional<int> a2d = channel;
    if (!a2d && !sensors) { // nothing chosen: the NTC channel and the sensor inputs
        a2d = 0;
        sensors = true;
    }

    const QLocale csv = QLocale::c();
    QList<WatchSource> sources;
    if (a2d) {
        const int ch = *a2d;
        sources.append(
            {{QStringLiteral("a2d%1_count").arg(ch), QStringLiteral("a2d%1_V").arg(ch)},
             {*a2dFrame(ch)},
             [ch, csv](const DeviceState& st) {
                 const int32_t raw = st.ARegCache[static_cast<size_t>(ch)];
                 return QStringList{QString::number(raw), csv.toString(raw * 3.0 / 4095.0, 'f', 4)};
             },
             {0, 0}});
    }
    if (sensors) {
        QStringList header;
        for (const SensorRow& row : sensorRows())
            header << QString::fromLatin1(row.caption);
        QList<int> columnFrame;
        for (int i = 0; i < header.size(); ++i)
            columnFrame << i;
        sources.append({header, sensorFrames(),
                        [csv](const DeviceState& st) { return sensorTexts(st, csv); },
                        columnFrame});
    }

    if (!s.connect())
        return s.finish(ExitFailed);
    QStringList header{QStringLiteral("t_ms")};
    QStringList frames;
    for (const WatchSource& src : sources) {
        header << src.header;
        frames << src.frames;
    }
    s.out(header.join(','));
    int lostReplies = 0;
    // Sample times count poll ticks, the link's own clock.
    const int startTick = s.link().poll.tickCount();
    for (int n = 0; !count || n < *count; ++n) {
        if (n > 0 && interval.value_or(1000) > 0)
            s.runFor(interval.value_or(1000));
        // Ctrl+C ends the watch; the event loop no longer runs after it.
        if (s.interrupted())
            break;
        const int t = (s.link().poll.tickCount() - startTick) * PollCycle::kTickMs;
        const int id = s.link().startBatch(frames);
        s.waitBatch(kDiagBatchTimeoutMs);
        // A lost reply leaves the state holding zeros or the previous
        // sample: its columns stay empty instead.
        QSet<int> lost;
        const BatchOutcome o = s.link().poll.outcome(id);
        if (o.unsentFrom >= 0)
            s.link().poll.abandon();
        // Ctrl+C in the middle of a sample: the sample is not the unit's
        // fault, nor a sample; the watch ends with the samples before it.
        if (s.interrupted())
            break;
        for (int e : o.missingEntries(static_cast<int>(frames.size())))
            lost.insert(e);
        QStringList line{QString::number(t)};
        int first = 0;
        for (const WatchSource& src : sources) {
            const QStringList values = src.values(s.link().state);
            for (int c = 0; c < values.size(); ++c)
                line << (lost.contains(first + src.columnFrame.value(c)) ? QString()
                                                                         : values.at(c));
            first += static_cast<int>(src.frames.size());
        }
        s.out(line.join(','));
        // With --json each sample is a line of its own as it comes (NDJSON).
        s.jsonLine(csvRowObject(header, line));
        lostReplies += static_cast<int>(lost.size());
        if (lost.size() == frames.size()) {
            s.err(QStringLiteral("The unit stopped answering the poll."));
            s.set(QStringLiteral("header"), QJsonArray::fromStringList(header));
            return s.finish(ExitFailed);
        }
    }
    if (lostReplies > 0)
        s.err(QStringLiteral("%1 value(s) were not answered and are left empty.").arg(lostReplies));
    s.set(QStringLiteral("lost"), lostReplies);
    s.set(QStringLiteral("header"), QJsonArray::fromStringList(header));
    return s.finish(ExitOk);
}

int printCalibration(CliSession& s) {
    if (!readAll(s, calibrationFrames(), QStringLiteral("calibration read")))
        return s.finish(ExitFailed);
    const QLocale c = QLocale::c();
    const CalibrationDisplay d = ShowCalibration(s.link().state, c);
    QJsonObject coefficients;
    for (const QString& row : d.coefficientRows) {
        s.out(row);
        coefficients.insert(row.section('\t', 0, 0), row.section('\t', 1));
    }
    QJsonObject trims;
    for (size_t i = 0; i < d.trims.size(); ++i) {
        s.out(QStringLiteral("trim %1\t%2").arg(QString::fromLatin1(kTrimNames[i]), d.trims[i]));
        trims.insert(QString::fromLatin1(kTrimNames[i]), d.trims[i]);
    }
    // JSON carries the byte the unit holds, beside what it means: a byte no
    // list entry stands for is not the 0 of "None".
    QJsonObject filters;
    QJsonObject filterMeanings;
    for (size_t i = 0; i < d.filterIndex.size(); ++i) {
        const QString meaning = filterItems().at(d.filterIndex[i]);
        s.out(QStringLiteral("filter %1\t%2").arg(QString::fromLatin1(kFilterNames[i]), meaning));
        filters.insert(QString::fromLatin1(kFilterNames[i]), d.filterBytes[i]);
        filterMeanings.insert(QString::fromLatin1(kFilterNames[i]), meaning);
    }
    const int rate = s.link().state.DiagItem10;
    const QString rateText = rate >= 0 && rate <= 2 ? screenRateItems().at(rate)
                                                    : QStringLiteral("unknown (%1)").arg(rate);
    s.out(QStringLiteral("screen rate\t") + rateText);
    s.out(QStringLiteral("outputs fitted\t") +
          (d.calibrateEnabled ? QStringLiteral("yes") : QStringLiteral("no")));
    s.set(QStringLiteral("coefficients"), coefficients);
    s.set(QStringLiteral("trims"), trims);
    s.set(QStringLiteral("filters"), filters);
    s.set(QStringLiteral("filterMeanings"), filterMeanings);
    s.set(QStringLiteral("screenRate"), rate);
    s.set(QStringLiteral("outputsFitted"), d.calibrateEnabled);
    return s.finish(ExitOk);
}

int calibration(CliSession& s, const QStringList& args) {
    if (!noArguments(s, QStringLiteral("calibration"), args))
        return s.finish(ExitUsage);
    if (!s.connect())
        return s.finish(ExitFailed);
    return printCalibration(s);
}

int calibrateOutputs(CliSession& s, const QStringList& args) {
    if (!noArguments(s, QStringLiteral("calibrate-outputs"), args))
        return s.finish(ExitUsage);
    if (!s.connect())
        return s.finish(ExitFailed);
    // As the desktop tool: the command is offered only once a calibration
    // read has shown outputs fitted.
    if (!readAll(s, calibrationFrames(), QStringLiteral("calibration read")))
        return s.finish(ExitFailed);
    if (!ShowCalibration(s.link().state, QLocale::c()).calibrateEnabled) {
        s.err(QStringLiteral("calibrate-outputs: the unit has no analogue outputs fitted "
                             "(register 01 bits 14..17 clear); nothing was sent."));
        return s.finish(ExitFailed);
    }
    if (const auto refused = s.confirm(
            QStringLiteral("The unit will calibrate its 0-10 V outputs and replace their stored "
                           "coefficients; the present ones cannot be restored.")))
        return s.finish(*refused);
    // The unit answers nothing we examine; it measures its outputs and
    // stores the coefficients, which the read that follows shows.
    CalibrateOutputs(s.link());
    s.runFor(1000);
    return printCalibration(s);
}

} // namespace

QList<Command> diagCommands() {
    return {
        {QStringLiteral("diag"),
         QStringLiteral("diag                       reset cause, chip, flags, names, debug values"),
         diag},
        {QStringLiteral("watch"),
         QStringLiteral("watch [--a2d CH] [--sensors] [--interval MS] [--count N]  live polls as "
                        "CSV"),
         watch,
         QStringLiteral(
             "Polls the unit and prints one CSV line per sample: the time in ms since the\n"
             "watch began (t_ms), then the values. A value whose reply was lost is left empty.\n"
             "With --json: one JSON object per line per sample (NDJSON), then the summary.\n"
             "  --a2d CH        a converter channel, 0..12 (count and volts)\n"
             "  --sensors       the sensor inputs (both when neither is given)\n"
             "  --interval MS   the pause between samples, 0..3600000 (default 1000)\n"
             "  --count N       the number of samples (default: until Ctrl+C)\n"
             "  --co2           the CO2 level instead (see help watch --co2)")},
        {QStringLiteral("calibration"),
         QStringLiteral("calibration                coefficients, trims, filters, screen rate"),
         calibration},
        {QStringLiteral("calibrate-outputs"),
         QStringLiteral("calibrate-outputs          the unit calibrates its 0-10 V outputs"),
         calibrateOutputs,
         QStringLiteral(
             "The unit measures its 0-10 V outputs and stores new coefficients, replacing\n"
             "the present ones. Asks first; --yes answers the question (needed without a\n"
             "terminal). Then prints the calibration read.")},
    };
}

} // namespace gp::cli
