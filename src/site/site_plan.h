#pragma once
// A site plan: one row a room unit, as a spreadsheet exports it to CSV
// (comma or semicolon, UTF-8 with or without BOM, CR LF or LF, quoted
// fields), a header row naming the columns. A row finds its unit by serial
// number, unique id or (on a production bench) port, and gives the unit its
// own bus address, line settings and BACnet device id on top of a template
// .cfg file.
//
// The whole plan is checked before anything is sent: every problem is listed
// with its line and column.

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace gp::site {

struct PlanProblem {
    int line = 0;   // 1: the header row
    int column = 0; // 1: the first column; 0: the row as a whole
    QString text;
    // "line 4, column 6 (address): 300 is not a bus address (0..247)"
    QString toString(const QStringList& header) const;
};

struct PlanRow {
    int line = 0; // where the row starts in the file
    QString sn;   // as the tool shows it: "Q-48225"
    QString uid;  // "51525531-0A1B2C3D-00420017-9F3E61C4"
    QString port;
    QString name;
    QString bus;
    QString templatePath;        // absolute
    QString firmware;            // absolute; empty: leave the firmware as it is
    QString profile;             // absolute; empty: leave the profile as it is
    std::optional<int> address;  // 0..247
    std::optional<int> baud;     // index as register 21 stores it: 0 9600 .. 3 57600
    std::optional<int> parity;   // 0 none, 1 even, 2 odd
    std::optional<int> stopBits; // 0 one, 1 two
    std::optional<int> deviceId; // 0 automatic, 1..4194303
    // How the row names its unit, for messages: "sn Q-48225".
    QString key() const;
};

struct SitePlan {
    QString path;
    QStringList header;
    QList<PlanRow> rows;
    QList<PlanProblem> problems;
    bool ok() const { return problems.isEmpty(); }
    // "3 units on 2 buses, 1 template"
    QString summary() const;
    QStringList templates() const;
    QStringList buses() const;
    // The row of the unit with this serial number or unique id (letter case
    // aside), else the row of this port; null when none.
    const PlanRow* rowFor(const QString& sn, const QString& uid, const QString& port) const;
};

// The columns a plan may have.
QStringList planColumns();

// Splits CSV text into records of fields. The delimiter is the header's: a
// semicolon when the first line holds more of them than commas. Quoted
// fields may hold delimiters, doubled quotes and line breaks. lines gets the
// line each record starts on.
QList<QStringList> parseCsv(const QString& text, QList<int>* lines);

// Reads and checks a plan; its problems are in the answer.
SitePlan readPlan(const QString& path);

} // namespace gp::site
