#include "site/site_plan.h"

#include "config/comms_settings.h"
#include "unit/cfg_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

namespace gp::site {

namespace {

const QStringList kPlanColumns{
    QStringLiteral("sn"),        QStringLiteral("uid"),       QStringLiteral("port"),
    QStringLiteral("name"),      QStringLiteral("bus"),       QStringLiteral("template"),
    QStringLiteral("address"),   QStringLiteral("baud"),      QStringLiteral("parity"),
    QStringLiteral("stop_bits"), QStringLiteral("device_id"), QStringLiteral("firmware"),
    QStringLiteral("profile")};

const QList<int> kBauds{9600, 19200, 38400, 57600};
const QStringList kParities{QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd")};

std::optional<int> wholeNumber(const QString& text, int lo, int hi) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || text.startsWith(u'+') || v < lo || v > hi)
        return std::nullopt;
    return static_cast<int>(v);
}

// Checks one row's cells into the row, adding what is wrong to problems.
class RowReader {
  public:
    RowReader(const QStringList& header, const QStringList& cells, int line, const QDir& base,
              QList<PlanProblem>& problems)
        : header_(header), cells_(cells), line_(line), base_(base), problems_(problems) {}

    QString cell(const QString& column) const {
        const qsizetype i = header_.indexOf(column);
        return i < 0 ? QString() : cells_.value(i).trimmed();
    }
    void problem(const QString& column, const QString& text) {
        problems_ << PlanProblem{line_, static_cast<int>(header_.indexOf(column)) + 1, text};
    }
    std::optional<int> number(const QString& column, int lo, int hi, const QString& what) {
        const QString text = cell(column);
        if (text.isEmpty())
            return std::nullopt;
        const auto v = wholeNumber(text, lo, hi);
        if (!v)
            problem(column, QStringLiteral("%1 is not %2").arg(text, what));
        return v;
    }
    std::optional<int> choice(const QString& column, const QStringList& words,
                              const QString& what) {
        const QString text = cell(column).toLower();
        if (text.isEmpty())
            return std::nullopt;
        const qsizetype i = words.indexOf(text);
        if (i < 0)
            problem(column, QStringLiteral("%1 is not %2").arg(cell(column), what));
        return i < 0 ? std::nullopt : std::optional<int>(static_cast<int>(i));
    }
    // A file named relative to the plan, which must be readable.
    QString file(const QString& column, const QString& what) {
        const QString text = cell(column);
        if (text.isEmpty())
            return QString();
        const QString path = QDir::cleanPath(base_.absoluteFilePath(text));
        const QFileInfo fi(path);
        QFile f(path);
        if (!fi.exists())
            problem(column, QStringLiteral("the %1 %2 does not exist").arg(what, text));
        else if (!fi.isFile() || !f.open(QIODevice::ReadOnly))
            problem(column, QStringLiteral("the %1 %2 cannot be read").arg(what, text));
        return path;
    }

  private:
    const QStringList& header_;
    const QStringList& cells_;
    int line_;
    const QDir& base_;
    QList<PlanProblem>& problems_;
};

PlanRow readRow(const QStringList& header, const QStringList& cells, int line, const QDir& base,
                QList<PlanProblem>& problems) {
    RowReader r(header, cells, line, base, problems);
    PlanRow row;
    row.line = line;
    row.sn = r.cell(QStringLiteral("sn"));
    row.uid = r.cell(QStringLiteral("uid")).toUpper();
    row.port = r.cell(QStringLiteral("port"));
    row.name = r.cell(QStringLiteral("name"));
    row.bus = r.cell(QStringLiteral("bus"));
    if (cells.size() != header.size())
        problems << PlanProblem{line, 0,
                                QStringLiteral("the row has %1 field(s), the header %2")
                                    .arg(cells.size())
                                    .arg(header.size())};
    if (row.sn.isEmpty() && row.uid.isEmpty() && row.port.isEmpty())
        problems << PlanProblem{line, 0, QStringLiteral("no sn, uid or port finds the unit")};
    row.templatePath = r.file(QStringLiteral("template"), QStringLiteral("template"));
    if (r.cell(QStringLiteral("template")).isEmpty())
        r.problem(QStringLiteral("template"), QStringLiteral("no template is given"));
    else if (QFileInfo(row.templatePath).isFile()) {
        const CfgCheck c = parseCfgFile(row.templatePath);
        if (!c.ok())
            r.problem(QStringLiteral("template"), c.message);
    }
    row.firmware = r.file(QStringLiteral("firmware"), QStringLiteral("firmware image"));
    row.profile = r.file(QStringLiteral("profile"), QStringLiteral("profile"));
    row.address = r.number(QStringLiteral("address"), 0, kMaxAddress,
                           QStringLiteral("a bus address (0..247)"));
    if (const auto baud = r.number(QStringLiteral("baud"), 0, 1000000,
                                   QStringLiteral("a baud rate (9600, 19200, 38400, 57600)"))) {
        row.baud = static_cast<int>(kBauds.indexOf(*baud));
        if (*row.baud < 0) {
            row.baud.reset();
            r.problem(
                QStringLiteral("baud"),
                QStringLiteral("%1 is not a baud rate (9600, 19200, 38400, 57600)").arg(*baud));
        }
    }
    row.parity =
        r.choice(QStringLiteral("parity"), kParities, QStringLiteral("a parity (none, even, odd)"));
    if (const auto stop = r.number(QStringLiteral("stop_bits"), 1, 2,
                                   QStringLiteral("a number of stop bits (1, 2)")))
        row.stopBits = *stop - 1;
    row.deviceId = r.number(QStringLiteral("device_id"), 0, kMaxDeviceInstance,
                            QStringLiteral("a device id (0 = automatic, 1..4194303)"));
    return row;
}

// The same sn or uid twice, the same address twice on one bus, the same
// non-zero device id twice in the site.
void checkAcrossRows(const SitePlan& plan, QList<PlanProblem>& problems) {
    QHash<QString, int> sns, uids, addresses, deviceIds;
    const auto col = [&](const char* name) {
        return static_cast<int>(plan.header.indexOf(QLatin1String(name))) + 1;
    };
    const auto once = [&](QHash<QString, int>& seen, const QString& key, const PlanRow& row,
                          int column, const QString& what) {
        if (key.isEmpty())
            return;
        if (const auto it = seen.constFind(key); it != seen.constEnd())
            problems << PlanProblem{
                row.line, column, QStringLiteral("%1 is given on line %2 too").arg(what).arg(*it)};
        else
            seen.insert(key, row.line);
    };
    for (const PlanRow& row : plan.rows) {
        once(sns, row.sn.toUpper(), row, col("sn"), QStringLiteral("sn ") + row.sn);
        once(uids, row.uid, row, col("uid"), QStringLiteral("uid ") + row.uid);
        if (row.address)
            once(addresses, row.bus + u'\n' + QString::number(*row.address), row, col("address"),
                 QStringLiteral("address %1 on bus \"%2\"").arg(*row.address).arg(row.bus));
        if (row.deviceId && *row.deviceId != 0)
            once(deviceIds, QString::number(*row.deviceId), row, col("device_id"),
                 QStringLiteral("device id %1").arg(*row.deviceId));
    }
}

} // namespace

QString PlanProblem::toString(const QStringList& header) const {
    if (column <= 0)
        return QStringLiteral("line %1: %2").arg(line).arg(text);
    return QStringLiteral("line %1, column %2 (%3): %4")
        .arg(line)
        .arg(column)
        .arg(header.value(column - 1), text);
}

QString PlanRow::key() const {
    if (!sn.isEmpty())
        return QStringLiteral("sn ") + sn;
    if (!uid.isEmpty())
        return QStringLiteral("uid ") + uid;
    return QStringLiteral("port ") + port;
}

QStringList SitePlan::templates() const {
    QStringList out;
    for (const PlanRow& r : rows)
        if (!out.contains(r.templatePath))
            out << r.templatePath;
    return out;
}

QStringList SitePlan::buses() const {
    QStringList out;
    for (const PlanRow& r : rows)
        if (!out.contains(r.bus))
            out << r.bus;
    return out;
}

QString SitePlan::summary() const {
    const auto n = [](qsizetype count, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    return n(rows.size(), "unit", "units") + QStringLiteral(" on ") +
           n(buses().size(), "bus", "buses") + QStringLiteral(", ") +
           n(templates().size(), "template", "templates");
}

const PlanRow* SitePlan::rowFor(const QString& sn, const QString& uid, const QString& port) const {
    for (const PlanRow& r : rows)
        if ((!r.sn.isEmpty() && r.sn.compare(sn, Qt::CaseInsensitive) == 0) ||
            (!r.uid.isEmpty() && r.uid.compare(uid, Qt::CaseInsensitive) == 0))
            return &r;
    for (const PlanRow& r : rows)
        if (r.sn.isEmpty() && r.uid.isEmpty() && !r.port.isEmpty() && r.port == port)
            return &r;
    return nullptr;
}

QStringList planColumns() {
    return kPlanColumns;
}

QList<QStringList> parseCsv(const QString& text, QList<int>* lines) {
    const QString firstLine = text.section(u'\n', 0, 0);
    const QChar delimiter =
        firstLine.count(u';') > firstLine.count(u',') ? QChar(u';') : QChar(u',');
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    bool any = false; // the record holds something, even an empty quoted field
    int line = 1;
    int recordLine = 1;
    const auto endRecord = [&] {
        if (any || !field.isEmpty() || !fields.isEmpty()) {
            fields << field;
            records << fields;
            if (lines)
                *lines << recordLine;
        }
        fields.clear();
        field.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                if (c == u'\n')
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == u'"') {
            quoted = true;
            any = true;
        } else if (c == delimiter) {
            fields << field;
            field.clear();
            any = true;
        } else if (c == u'\r') {
            continue;
        } else if (c == u'\n') {
            endRecord();
            ++line;
            recordLine = line;
        } else {
            field += c;
        }
    }
    endRecord();
    return records;
}

SitePlan readPlan(const QString& path) {
    SitePlan plan;
    plan.path = QFileInfo(path).absoluteFilePath();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        plan.problems << PlanProblem{
            0, 0, QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString())};
        return plan;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(f.readAll());
    if (utf8.hasError()) {
        plan.problems << PlanProblem{0, 0, QStringLiteral("%1 is not UTF-8 text").arg(path)};
        return plan;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<int> lines;
    QList<QStringList> records = parseCsv(text, &lines);
    if (records.isEmpty()) {
        plan.problems << PlanProblem{1, 0, QStringLiteral("the plan is empty: no header row")};
        return plan;
    }
    for (const QString& h : records.first())
        plan.header << h.trimmed().toLower();
    for (qsizetype c = 0; c < plan.header.size(); ++c) {
        if (!kPlanColumns.contains(plan.header[c]))
            plan.problems << PlanProblem{
                1, static_cast<int>(c) + 1,
                QStringLiteral("unknown column; a plan has: %1").arg(kPlanColumns.join(u' '))};
        else if (plan.header.indexOf(plan.header[c]) != c)
            plan.problems << PlanProblem{1, static_cast<int>(c) + 1,
                                         QStringLiteral("the column is given twice")};
    }
    const QDir base = QFileInfo(plan.path).absoluteDir();
    for (qsizetype i = 1; i < records.size(); ++i) {
        const QStringList& cells = records[i];
        if (std::all_of(cells.begin(), cells.end(),
                        [](const QString& c) { return c.trimmed().isEmpty(); }))
            continue; // an empty line, as spreadsheets leave at the end
        plan.rows << readRow(plan.header, cells, lines[i], base, plan.problems);
    }
    if (plan.rows.isEmpty())
        plan.problems << PlanProblem{1, 0, QStringLiteral("the plan has no unit rows")};
    checkAcrossRows(plan, plan.problems);
    std::stable_sort(plan.problems.begin(), plan.problems.end(),
                     [](const PlanProblem& a, const PlanProblem& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    return plan;
}

} // namespace gp::site
