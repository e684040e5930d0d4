#pragma once
// The site record: every visit of every unit, what it held as found and as
// left, who changed it, when, with which tool and firmware. Kept in SQLite by
// default (write-ahead log, one transaction a step, so that a killed run
// leaves each visit recorded whole or marked interrupted) or, for a team, in
// one PostgreSQL database shared live.

#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace gp::site {

// The visit's result as recorded.
inline constexpr char kInterrupted[] = "interrupted"; // begun, never ended
inline constexpr char kDone[] = "done";
inline constexpr char kAlreadyAsPlanned[] = "already as planned";
inline constexpr char kFailed[] = "failed";

using Registers = std::array<std::optional<int32_t>, 256>;

// "00 1000C03A" lines as the record keeps registers; unread ones left out.
QString registersText(const Registers& regs);
Registers registersFromText(const QString& text);

struct Visit {
    QString key; // unique across every record, so that a merge knows a visit it holds
    QString uid;
    QString sn;
    QString name;
    int planLine = 0;
    QDateTime started; // UTC
    QDateTime ended;   // invalid while interrupted
    QString engineer;
    QString port;
    QString toolVersion;
    QString product;
    QString firmware;
    QString templatePath;
    QString templateSha256;
    std::optional<int> address;
    std::optional<int> deviceId;
    QString result = QString::fromLatin1(kInterrupted);
    QString reason;
    Registers found;
    Registers left;
    QString leftSha256; // of the as-left .cfg lines, as the commissioning report gives it
    // The firmware image the unit was left running, when a plan named one
    // and the apply flashed it or found the unit on it; empty otherwise.
    QString imageSha256;
};

class SiteRecord {
  public:
    static constexpr int kSchemaVersion = 2;
    // How long a write waits for a database another program holds.
    static constexpr int kBusyMs = 5000;

    SiteRecord();
    ~SiteRecord();
    SiteRecord(const SiteRecord&) = delete;
    SiteRecord& operator=(const SiteRecord&) = delete;

    // A file name (SQLite) or postgresql://HOST[:PORT]/DB. The user and
    // password come from the PostgreSQL environment (PGUSER, PGPASSWORD) or
    // ~/.pgpass, never from the command line. Creates the schema when
    // missing; refuses a record a newer version wrote.
    Status open(const QString& where);
    bool isOpen() const;
    QString where() const { return where_; }

    // One transaction each.
    Status begin(const Visit& visit); // recorded as interrupted, with what was found
    Status finish(const Visit& visit);

    // Every visit, oldest first; of one unit (sn or uid, letter case aside)
    // when unit is given.
    Result<QList<Visit>> visits(const QString& unit = QString()) const;
    // Every visit of a unit, by uid, else by sn; none for neither.
    Result<QList<Visit>> visitsOf(const QString& sn, const QString& uid) const;
    // The latest visit of a unit, by sn or uid.
    Result<std::optional<Visit>> latest(const QString& sn, const QString& uid) const;
    // Brings in every visit of another record this one does not hold.
    // Answers how many were added.
    Result<int> merge(SiteRecord& other);

  private:
    Status createSchema();
    Status write(const Visit& visit, bool insert);

    QString connection_;
    QString where_;
};

} // namespace gp::site
