// Commands of the unit's CO2 sensor: read its settings, write one, calibrate
// it to fresh air, and watch the live level. Each runs the same pass-through,
// sequences and chains as the CO2 view, and always gives the line back to the
// unit at the end, also after Ctrl+C.
#include "cli/cli_session.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "diag/identity.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

namespace gp::cli {

namespace {

constexpr int kExitInterrupted = 130;
// Feature bit 3 of register 01: the unit carries a CO2 sensor.
constexpr int32_t kCo2Feature = 1 << 3;

// One pass-through for the length of a command.
class Co2Run {
  public:
    explicit Co2Run(CliSession& s)
        : s_(s), co2_(s.link()), link_(co2_.link), settings_(co2_.settings) {
        timer_.setInterval(Co2Link::kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { link_.tick(); });
    }
    ~Co2Run() { leave(); }

    Co2Link& link() { return link_; }
    Co2Settings& settings() { return settings_; }

    // Connects, checks that the unit has a CO2 sensor and opens the
    // pass-through, which starts the read of everything.
    bool enter() {
        if (!s_.connect())
            return false;
        IdentityRead(s_.link());
        if (!s_.waitBatch(10000)) {
            s_.err(s_.interrupted() ? QStringLiteral("Interrupted.")
                                    : QStringLiteral("The unit did not answer the identity read."));
            return false;
        }
        if ((s_.link().state.RegRecord.asInt(1) & kCo2Feature) == 0) {
            s_.err(QStringLiteral("This unit has no CO2 sensor (feature bit 3 of register 01 is "
                                  "not set)."));
            return false;
        }
        link_.Co2Enter();
        entered_ = true;
        timer_.start();
        return true;
    }

    // The level comes with the first stream line after a read.
    void awaitLevel() {
        s_.runUntil([this] { return link_.level >= 0; }, 2500);
    }

    // Runs until both sequences are done and the last replies are in.
    // False when the sensor never answered (or the run was interrupted).
    bool settle(int timeoutMs = 15000) {
        s_.runUntil([this] { return link_.idle(); }, timeoutMs);
        s_.runFor(600);
        if (s_.interrupted())
            return false;
        if (link_.linesReceived == 0) {
            s_.err(QStringLiteral("The CO2 sensor did not answer through the unit."));
            return false;
        }
        return true;
    }

    // The sensor back to stream mode, the line back to the unit, and time for
    // those bytes to leave before the port closes.
    void leave() {
        if (!entered_)
            return;
        entered_ = false;
        timer_.stop();
        link_.Co2Leave();
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
    }

  private:
    CliSession& s_;
    Co2Channel co2_;
    Co2Link& link_;
    Co2Settings& settings_;
    QTimer timer_;
    bool entered_ = false;
};

QString shown(const QString& text) {
    return text.isEmpty() || text == QLatin1String("---") ? QStringLiteral("-") : text;
}

void printSettings(CliSession& s, Co2Run& run) {
    const Co2Fields& f = run.settings().fields();
    auto text = [&](int field) { return shown(f.text.at(static_cast<size_t>(field))); };
    const QString method = f.methodIndex >= 0 && f.methodIndex < f.methodItems.size()
                               ? f.methodItems.at(f.methodIndex)
                               : QStringLiteral("-");
    const QString level = run.link().level >= 0 ? QString::number(run.link().level) : "-";
    const QList<std::pair<QString, QString>> rows{
        {"level", level + " ppm"},
        {"filter", text(FieldFilter)},
        {"ambient", text(FieldAmbient) + " ppm"},
        {"initial-interval",
         text(FieldInitialDays) + " days (stored " + text(FieldInitialRaw) + ")"},
        {"interval", text(FieldIntervalDays) + " days (raw " + text(FieldIntervalRaw) + ")"},
        {"concentration", text(FieldCalConcentration) + " ppm"},
        {"method", method},
        {"proportion",
         f.advancedRows ? text(FieldProportion) : QStringLiteral("(not on this sensor)")},
        {"threshold",
         f.advancedRows ? text(FieldThreshold) + " ppm" : QStringLiteral("(not on this sensor)")},
    };
    for (const auto& [name, value] : rows)
        s.out(name + '\t' + value);
    auto num = [&](int field) -> QJsonValue {
        bool ok = false;
        const int v = f.text.at(static_cast<size_t>(field)).toInt(&ok);
        return ok ? QJsonValue(v) : QJsonValue();
    };
    s.set("level", run.link().level >= 0 ? QJsonValue(run.link().level) : QJsonValue());
    s.set("filter", num(FieldFilter));
    s.set("ambient", num(FieldAmbient));
    s.set("initialIntervalDays", num(FieldInitialDays));
    s.set("initialIntervalStored", num(FieldInitialRaw));
    s.set("intervalDays", num(FieldIntervalDays));
    s.set("intervalRaw", num(FieldIntervalRaw));
    s.set("concentration", num(FieldCalConcentration));
    s.set("method", f.methodIndex >= 0 ? QJsonValue(method) : QJsonValue());
    s.set("advancedCalibration", f.advancedRows);
    s.set("proportion", f.advancedRows ? num(FieldProportion) : QJsonValue());
    s.set("threshold", f.advancedRows ? num(FieldThreshold) : QJsonValue());
}

int endStatus(CliSession& s, Co2Run& run, int status) {
    run.leave();
    if (s.interrupted()) {
        s.err(QStringLiteral("Interrupted; the CO2 pass-through was ended."));
        return s.finish(kExitInterrupted);
    }
    return s.finish(status);
}

int co2Read(CliSession& s, const QStringList& args) {
    if (!args.isEmpty()) {
        s.err(QStringLiteral("co2 read: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    Co2Run run(s);
    if (!run.enter() || !run.settle())
        return endStatus(s, run, ExitFailed);
    run.awaitLevel();
    printSettings(s, run);
    return endStatus(s, run, ExitOk);
}

struct Setting {
    const char* name;
    int field;
    int button;
    int checkField; // the field that shows the value written, read back
    const char* range;
};

constexpr Setting kSettings[] = {
    {"filter", FieldFilter, ButtonFilter, FieldFilter, "as typed"},
    {"ambient", FieldAmbient, ButtonAmbient, FieldAmbient, "0..5000 ppm"},
    {"initial-interval", FieldInitialDays, ButtonInitialInterval, FieldInitialRaw,
     "the days the interval leaves"},
    {"interval", FieldIntervalDays, ButtonInterval, FieldIntervalRaw, "days, 0..37.9"},
    {"concentration", FieldCalConcentration, ButtonCalConcentration, FieldCalConcentration,
     "0..5000 ppm"},
    {"proportion", FieldProportion, ButtonProportion, FieldProportion, "1..255"},
    {"threshold", FieldThreshold, ButtonThreshold, FieldThreshold, "0..1000 ppm"},
};

QString co2SetHelp() {
    QString text = QStringLiteral(
        "Writes one setting of the CO2 sensor and reads it back. A value outside the\n"
        "setting's range is refused and nothing is written.\n"
        "  --clamp   write the nearest value inside the range instead, saying so\n"
        "NAME is one of:\n");
    for (const Setting& st : kSettings)
        text += QStringLiteral("  %1 %2\n")
                    .arg(QString::fromLatin1(st.name), -18)
                    .arg(QString::fromLatin1(st.range));
    return text.trimmed();
}

QString settingNames() {
    QStringList names;
    for (const Setting& st : kSettings)
        names << QString::fromLatin1(st.name);
    return names.join(QStringLiteral(", "));
}

int co2Set(CliSession& s, QStringList args) {
    const bool clamp = CliSession::takeFlag(args, QStringLiteral("--clamp"));
    if (args.size() != 2) {
        s.err(QStringLiteral("co2 set: needs NAME VALUE; NAME is one of %1.").arg(settingNames()));
        return s.finish(ExitUsage);
    }
    const Setting* setting = nullptr;
    for (const Setting& st : kSettings)
        if (args.first() == QLatin1String(st.name))
            setting = &st;
    if (!setting) {
        s.err(QStringLiteral("co2 set: unknown setting '%1'; one of %2. (The calibration method "
                             "is shown but not written, as on the CO2 view.)")
                  .arg(args.first(), settingNames()));
        return s.finish(ExitUsage);
    }
    const QString value = args.at(1);
    if (!Co2Number(value)) {
        s.err(QStringLiteral("co2 set %1: '%2' is not a number; nothing was written.")
                  .arg(args.first(), value));
        return s.finish(ExitUsage);
    }
    // A value outside the setting's range is refused before anything is
    // sent, unless --clamp asks for the limited value.
    const auto outside = [&](int written) {
        s.err(QStringLiteral("co2 set %1: %2 is outside %3; nothing was written. (--clamp writes "
                             "%4 instead.)")
                  .arg(args.first(), value, QString::fromLatin1(setting->range))
                  .arg(written));
        return ExitUsage;
    };
    bool limited = false;
    if (const auto written = Co2FixedLimit(setting->button, *Co2Number(value), limited);
        written && limited && !clamp)
        return s.finish(outside(*written));
    Co2Run run(s);
    if (!run.enter() || !run.settle())
        return endStatus(s, run, ExitFailed);
    Co2Settings& settings = run.settings();
    if (setting->button == ButtonInitialInterval && !clamp) {
        settings.setText(setting->field, value);
        if (const auto written = settings.initialIntervalLimit(limited); written && limited)
            return endStatus(s, run, outside(*written));
    }
    if (!settings.enabled(setting->button)) {
        s.err(QStringLiteral("co2 set %1: this sensor has no such setting (it does not answer "
                             "parameter 16); nothing was written.")
                  .arg(args.first()));
        return endStatus(s, run, ExitFailed);
    }
    settings.setText(setting->field, value);
    const int refusalsBefore = run.link().writeRefusals;
    const Co2Action action = settings.press(setting->button);
    if (!action.acted) {
        s.err(QStringLiteral("co2 set %1: nothing was written.").arg(args.first()));
        return endStatus(s, run, ExitFailed);
    }
    if (action.limited)
        s.err(QStringLiteral("co2 set %1: %2 is outside %3; %4 is written instead.")
                  .arg(args.first(), value, QString::fromLatin1(setting->range))
                  .arg(action.value));
    // The write sequence, its chain and the read of everything after it.
    if (!run.settle())
        return endStatus(s, run, ExitFailed);
    run.awaitLevel();
    printSettings(s, run);
    const QString readBack = settings.text(setting->checkField);
    // The filter goes out as typed, so only the typed number itself confirms
    // it; a sensor that refused "A 16.7" still shows its old 16.
    const bool refused = run.link().writeRefusals != refusalsBefore;
    const bool confirmed =
        !refused && (setting->button == ButtonFilter ? Co2Number(readBack).has_value() &&
                                                           Co2Number(readBack) == Co2Number(value)
                                                     : readBack == QString::number(action.value));
    s.set("written", action.line);
    s.set("confirmed", confirmed);
    if (refused) {
        s.err(QStringLiteral("co2 set %1: the sensor refused '%2' (it answered \"?\"); it "
                             "reports %3.")
                  .arg(args.first(), action.line, shown(readBack)));
        return endStatus(s, run, ExitFailed);
    }
    if (!confirmed) {
        s.err(QStringLiteral("co2 set %1: the sensor reports %2 after writing %3.")
                  .arg(args.first(), shown(readBack),
                       setting->button == ButtonFilter ? value.trimmed()
                                                       : QString::number(action.value)));
        return endStatus(s, run, ExitFailed);
    }
    return endStatus(s, run, ExitOk);
}

int co2Calibrate(CliSession& s, const QStringList& args) {
    if (!args.isEmpty()) {
        s.err(QStringLiteral("co2 calibrate: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    if (const auto refused = s.confirm(QStringLiteral(
            "The CO2 sensor will take the air around it now as fresh air (about 400 ppm) "
            "and replace its calibration; the present one cannot be restored.")))
        return s.finish(*refused);
    Co2Run run(s);
    if (!run.enter() || !run.settle())
        return endStatus(s, run, ExitFailed);
    run.awaitLevel();
    const int before = run.link().level;
    const int linesBefore = run.link().linesReceived;
    run.settings().press(ButtonCalibrate);
    // The sensor answers at once; the next stream line shows the new level.
    s.runUntil([&] { return run.link().linesReceived > linesBefore + 1; }, 5000);
    s.runFor(1500);
    if (s.interrupted())
        return endStatus(s, run, ExitFailed);
    if (run.link().linesReceived <= linesBefore) {
        s.err(QStringLiteral("The CO2 sensor did not answer the calibration."));
        return endStatus(s, run, ExitFailed);
    }
    s.out(QStringLiteral("level before\t%1 ppm").arg(before));
    s.out(QStringLiteral("level after\t%1 ppm").arg(run.link().level));
    s.set("levelBefore", before);
    s.set("levelAfter", run.link().level);
    return endStatus(s, run, ExitOk);
}

// The live level as CSV: one row per level the sensor streams.
int watchCo2(CliSession& s, const QStringList& argsIn) {
    QStringList args = argsIn;
    CliSession::takeFlag(args, QStringLiteral("--co2"));
    int count = 0;
    if (const auto c = CliSession::takeOption(args, QStringLiteral("--count"))) {
        bool ok = false;
        count = c->toInt(&ok);
        if (!ok || count < 1) {
            s.err(QStringLiteral("watch --co2: --count needs a whole number above 0"));
            return s.finish(ExitUsage);
        }
    }
    int intervalMs = 0;
    if (const auto i = CliSession::takeOption(args, QStringLiteral("--interval"))) {
        bool ok = false;
        intervalMs = i->toInt(&ok);
        if (!ok || intervalMs < 0) {
            s.err(QStringLiteral("watch --co2: --interval needs milliseconds"));
            return s.finish(ExitUsage);
        }
    }
    if (!args.isEmpty()) {
        s.err(QStringLiteral("watch --co2: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    Co2Run run(s);
    if (!run.enter())
        return endStatus(s, run, ExitFailed);
    // The same time column as the plain watch: ms since the watch began.
    const QStringList header{QStringLiteral("t_ms"), QStringLiteral("co2_ppm")};
    s.out(header.join(','));
    int rows = 0;
    const qint64 startMs = s.nowMs();
    qint64 lastRowMs = -1;
    auto previous = run.link().onLevel;
    run.link().onLevel = [&](int ppm) {
        if (previous)
            previous(ppm);
        const qint64 now = s.nowMs() - startMs;
        if (lastRowMs >= 0 && now - lastRowMs < intervalMs)
            return;
        lastRowMs = now;
        const QStringList line{QString::number(now), QString::number(ppm)};
        s.out(line.join(','));
        // With --json each sample is a line of its own as it comes (NDJSON).
        s.jsonLine(csvRowObject(header, line));
        ++rows;
    };
    // Without --count it runs until Ctrl+C; a sensor silent for 5 s ends it.
    int seen = 0;
    for (;;) {
        const int before = rows;
        s.runUntil([&] { return rows > before || (count > 0 && rows >= count); }, 5000);
        if (s.interrupted() || (count > 0 && rows >= count))
            break;
        if (rows == before && run.link().linesReceived == seen) {
            s.err(QStringLiteral("The CO2 sensor sent nothing for 5 s."));
            run.link().onLevel = previous;
            s.set("samples", rows);
            return endStatus(s, run, ExitFailed);
        }
        seen = run.link().linesReceived;
    }
    run.link().onLevel = previous;
    s.set("samples", rows);
    // Ctrl+C is how a watch without --count ends: that is success.
    run.leave();
    return s.finish(ExitOk);
}

} // namespace

QList<Command> co2Commands() {
    return {
        {QStringLiteral("co2 read"),
         QStringLiteral("co2 read                   the CO2 sensor's level and settings"), co2Read},
        {QStringLiteral("co2 set"),
         QStringLiteral("co2 set NAME VALUE [--clamp]  write one CO2 sensor setting (filter, "
                        "ambient, interval, ...)"),
         co2Set, co2SetHelp()},
        {QStringLiteral("co2 calibrate"),
         QStringLiteral("co2 calibrate              calibrate the CO2 sensor to fresh air now"),
         co2Calibrate,
         QStringLiteral(
             "Tells the CO2 sensor that the air around it now is fresh air: the sensor's\n"
             "present calibration is replaced. Asks first; --yes answers the question\n"
             "(needed without a terminal).")},
        // Named with its option, so that it is chosen over a plain "watch".
        {QStringLiteral("watch --co2"),
         QStringLiteral("watch --co2 [--interval MS] [--count N]  the live CO2 level as CSV"),
         watchCo2,
         QStringLiteral(
             "The live CO2 level as CSV: the time in ms since the watch began (t_ms), then\n"
             "the level in ppm, one line per level the sensor sends.\n"
             "With --json: one JSON object per line per sample (NDJSON), then the summary.\n"
             "  --interval MS   at least this long between lines (default: every level)\n"
             "  --count N       the number of lines (default: until Ctrl+C)")},
    };
}

} // namespace gp::cli
