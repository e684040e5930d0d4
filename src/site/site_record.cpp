#include "site/site_record.h"

#include "link/codec.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

namespace gp::site {

namespace {

// Each schema version's statements, applied in order to a record of an older
// version. Plain SQL that SQLite and PostgreSQL both take.
const QList<QStringList> kMigrations{
    // 1: the visits.
    {QStringLiteral("CREATE TABLE visits ("
                    " visit_key TEXT PRIMARY KEY, uid TEXT NOT NULL, sn TEXT NOT NULL,"
                    " name TEXT NOT NULL, plan_line INTEGER NOT NULL, started TEXT NOT NULL,"
                    " ended TEXT, engineer TEXT NOT NULL, port TEXT NOT NULL,"
                    " tool_version TEXT NOT NULL, product TEXT NOT NULL, firmware TEXT NOT NULL,"
                    " template TEXT NOT NULL, template_sha256 TEXT NOT NULL, address INTEGER,"
                    " device_id INTEGER, result TEXT NOT NULL, reason TEXT NOT NULL,"
                    " found TEXT NOT NULL, left_regs TEXT NOT NULL, left_sha256 TEXT NOT NULL)"),
     QStringLiteral("CREATE INDEX visits_uid ON visits (uid)"),
     QStringLiteral("CREATE INDEX visits_sn ON visits (sn)")},
    // 2: the firmware image a unit was left running, by its SHA-256.
    {QStringLiteral("ALTER TABLE visits ADD COLUMN image_sha256 TEXT NOT NULL DEFAULT ''")},
};

const QString kVisitColumns = QStringLiteral(
    "visit_key, uid, sn, name, plan_line, started, ended, engineer, port, tool_version, product, "
    "firmware, template, template_sha256, address, device_id, result, reason, found, left_regs, "
    "left_sha256, image_sha256");

QString isoUtc(const QDateTime& t) {
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

// Qt binds a null QString as NULL; the record's text columns hold "" instead.
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

QVariant optionalInt(const std::optional<int>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<int>());
}

std::optional<int> intOf(const QVariant& v) {
    return v.isNull() ? std::nullopt : std::optional<int>(v.toInt());
}

Visit visitOf(const QSqlQuery& q) {
    Visit v;
    int i = 0;
    v.key = q.value(i++).toString();
    v.uid = q.value(i++).toString();
    v.sn = q.value(i++).toString();
    v.name = q.value(i++).toString();
    v.planLine = q.value(i++).toInt();
    v.started = QDateTime::fromString(q.value(i++).toString(), Qt::ISODateWithMs);
    v.ended = QDateTime::fromString(q.value(i++).toString(), Qt::ISODateWithMs);
    v.engineer = q.value(i++).toString();
    v.port = q.value(i++).toString();
    v.toolVersion = q.value(i++).toString();
    v.product = q.value(i++).toString();
    v.firmware = q.value(i++).toString();
    v.templatePath = q.value(i++).toString();
    v.templateSha256 = q.value(i++).toString();
    v.address = intOf(q.value(i++));
    v.deviceId = intOf(q.value(i++));
    v.result = q.value(i++).toString();
    v.reason = q.value(i++).toString();
    v.found = registersFromText(q.value(i++).toString());
    v.left = registersFromText(q.value(i++).toString());
    v.leftSha256 = q.value(i++).toString();
    v.imageSha256 = q.value(i++).toString();
    return v;
}

// SQLite takes the write lock at the start of the transaction: a deferred
// one that reads first cannot get it later while another writer waits, and
// would fail at once instead of waiting its busy time.
bool beginWrite(QSqlDatabase& db) {
    if (db.driverName() != QLatin1String("QSQLITE"))
        return db.transaction();
    QSqlQuery q(db);
    return q.exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool commitWrite(QSqlDatabase& db) {
    if (db.driverName() != QLatin1String("QSQLITE"))
        return db.commit();
    QSqlQuery q(db);
    return q.exec(QStringLiteral("COMMIT"));
}

void rollbackWrite(QSqlDatabase& db) {
    if (db.driverName() != QLatin1String("QSQLITE")) {
        db.rollback();
        return;
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("ROLLBACK"));
}

Status failed(const QString& what, const QSqlError& e) {
    return fail(QStringLiteral("%1: %2").arg(what, e.text()));
}

} // namespace

QString registersText(const Registers& regs) {
    QStringList lines;
    for (int r = 0; r < 256; ++r)
        if (const auto& v = regs[static_cast<size_t>(r)])
            lines << HexByte(r) + u' ' + HexLong(*v);
    return lines.join(u'\n');
}

Registers registersFromText(const QString& text) {
    Registers regs;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        bool okReg = false;
        const int r = line.section(u' ', 0, 0).toInt(&okReg, 16);
        const QString value = line.section(u' ', 1, 1);
        if (okReg && r >= 0 && r < 256 && value.size() == 8)
            regs[static_cast<size_t>(r)] = ParseHexLong(value);
    }
    return regs;
}

SiteRecord::SiteRecord()
    : connection_(QStringLiteral("site-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

SiteRecord::~SiteRecord() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(connection_))
        QSqlDatabase::removeDatabase(connection_);
}

bool SiteRecord::isOpen() const {
    return QSqlDatabase::database(connection_, false).isOpen();
}

Status SiteRecord::open(const QString& where) {
    where_ = where;
    const QUrl url(where);
    const bool postgres =
        url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres");
    if (postgres) {
        if (!url.password().isEmpty() || !url.userName().isEmpty())
            return fail(QStringLiteral("Give the database user and password through PGUSER and "
                                       "PGPASSWORD or ~/.pgpass, not in %1.")
                            .arg(url.toString(QUrl::RemoveUserInfo)));
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return fail(QStringLiteral("Qt's PostgreSQL driver is not installed (Debian package "
                                       "libqt6sql6-psql)."));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
        // libpq's URL forms: postgresql://HOST:PORT/DB, or a socket folder
        // as postgresql:///DB?host=/run/postgresql.
        const QUrlQuery query(url);
        db.setHostName(query.hasQueryItem(QStringLiteral("host"))
                           ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                           : url.host());
        if (url.port() > 0)
            db.setPort(url.port());
        else if (query.hasQueryItem(QStringLiteral("port")))
            db.setPort(query.queryItemValue(QStringLiteral("port")).toInt());
        db.setDatabaseName(url.path().mid(1));
        db.setUserName(qEnvironmentVariable("PGUSER"));
        db.setConnectOptions(
            QStringLiteral("connect_timeout=10;options=-cclient_min_messages=warning"));
        if (!db.open())
            return failed(QStringLiteral("The site record %1 cannot be opened").arg(where),
                          db.lastError());
    } else {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            return fail(QStringLiteral("Qt's SQLite driver is not installed (Debian package "
                                       "libqt6sql6-sqlite)."));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db.setDatabaseName(where);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMs));
        if (!db.open())
            return failed(QStringLiteral("The site record %1 cannot be opened").arg(where),
                          db.lastError());
    }
    // Several units of one run open the record at once: the first creates
    // it while the others wait their turn.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const Status created = createSchema();
        if (created || waited.elapsed() > kBusyMs ||
            !created.error().contains(QLatin1String("locked")))
            return created;
        QThread::msleep(50);
    }
}

Status SiteRecord::createSchema() {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    QSqlQuery q(db);
    const QString where = where_;
    // The write-ahead log: a reader never blocks the writer, and a run
    // killed at any moment leaves every committed visit whole.
    if (db.driverName() == QLatin1String("QSQLITE") &&
        !q.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return failed(QStringLiteral("The site record %1 cannot be used").arg(where),
                      q.lastError());
    if (!q.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)")))
        return failed(QStringLiteral("The site record %1 cannot be used").arg(where),
                      q.lastError());
    if (!beginWrite(db))
        return failed(QStringLiteral("The site record %1 is busy").arg(where), db.lastError());
    int version = 0;
    if (q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'")) && q.next())
        version = q.value(0).toInt();
    if (version > kSchemaVersion) {
        rollbackWrite(db);
        return fail(QStringLiteral("The site record %1 was written by a newer version of "
                                   "Glimmerpane (schema %2; this version knows %3). Nothing was "
                                   "changed; use the newer version.")
                        .arg(where)
                        .arg(version)
                        .arg(kSchemaVersion));
    }
    for (int v = version + 1; v <= kSchemaVersion; ++v)
        for (const QString& statement : kMigrations[v - 1])
            if (!q.exec(statement)) {
                const QSqlError e = q.lastError();
                rollbackWrite(db);
                return failed(QStringLiteral("The site record %1 cannot be brought to schema %2")
                                  .arg(where)
                                  .arg(v),
                              e);
            }
    if (version < kSchemaVersion) {
        q.prepare(version == 0 ? QStringLiteral("INSERT INTO meta (key, value) VALUES "
                                                "('schema_version', :v)")
                               : QStringLiteral("UPDATE meta SET value = :v WHERE key = "
                                                "'schema_version'"));
        q.bindValue(QStringLiteral(":v"), QString::number(kSchemaVersion));
        if (!q.exec()) {
            const QSqlError e = q.lastError();
            rollbackWrite(db);
            return failed(QStringLiteral("The site record %1 cannot be used").arg(where), e);
        }
    }
    if (!commitWrite(db))
        return failed(QStringLiteral("The site record %1 cannot be used").arg(where),
                      db.lastError());
    return {};
}

Status SiteRecord::begin(const Visit& visit) {
    return write(visit, true);
}

Status SiteRecord::finish(const Visit& visit) {
    return write(visit, false);
}

Status SiteRecord::write(const Visit& v, bool insert) {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    if (!db.isOpen())
        return fail(QStringLiteral("The site record is not open."));
    if (!beginWrite(db))
        return failed(QStringLiteral("The site record %1 is busy").arg(where_), db.lastError());
    QSqlQuery q(db);
    if (insert)
        q.prepare(QStringLiteral("INSERT INTO visits (") + kVisitColumns +
                  QStringLiteral(") VALUES (:visit_key, :uid, :sn, :name, :plan_line, :started, "
                                 ":ended, :engineer, :port, :tool_version, :product, :firmware, "
                                 ":template, :template_sha256, :address, :device_id, :result, "
                                 ":reason, :found, :left_regs, :left_sha256, :image_sha256)"));
    else
        q.prepare(QStringLiteral(
            "UPDATE visits SET uid = :uid, sn = :sn, name = :name, plan_line = :plan_line, "
            "started = :started, ended = :ended, engineer = :engineer, port = :port, "
            "tool_version = :tool_version, product = :product, firmware = :firmware, "
            "template = :template, template_sha256 = :template_sha256, address = :address, "
            "device_id = :device_id, result = :result, reason = :reason, found = :found, "
            "left_regs = :left_regs, left_sha256 = :left_sha256, image_sha256 = :image_sha256 "
            "WHERE visit_key = :visit_key"));
    q.bindValue(QStringLiteral(":visit_key"), notNull(v.key));
    q.bindValue(QStringLiteral(":uid"), notNull(v.uid));
    q.bindValue(QStringLiteral(":sn"), notNull(v.sn));
    q.bindValue(QStringLiteral(":name"), notNull(v.name));
    q.bindValue(QStringLiteral(":plan_line"), v.planLine);
    q.bindValue(QStringLiteral(":started"), isoUtc(v.started));
    q.bindValue(QStringLiteral(":ended"), v.ended.isValid()
                                              ? QVariant(isoUtc(v.ended))
                                              : QVariant(QMetaType::fromType<QString>()));
    q.bindValue(QStringLiteral(":engineer"), notNull(v.engineer));
    q.bindValue(QStringLiteral(":port"), notNull(v.port));
    q.bindValue(QStringLiteral(":tool_version"), notNull(v.toolVersion));
    q.bindValue(QStringLiteral(":product"), notNull(v.product));
    q.bindValue(QStringLiteral(":firmware"), notNull(v.firmware));
    q.bindValue(QStringLiteral(":template"), notNull(v.templatePath));
    q.bindValue(QStringLiteral(":template_sha256"), notNull(v.templateSha256));
    q.bindValue(QStringLiteral(":address"), optionalInt(v.address));
    q.bindValue(QStringLiteral(":device_id"), optionalInt(v.deviceId));
    q.bindValue(QStringLiteral(":result"), notNull(v.result));
    q.bindValue(QStringLiteral(":reason"), notNull(v.reason));
    q.bindValue(QStringLiteral(":found"), notNull(registersText(v.found)));
    q.bindValue(QStringLiteral(":left_regs"), notNull(registersText(v.left)));
    q.bindValue(QStringLiteral(":left_sha256"), notNull(v.leftSha256));
    q.bindValue(QStringLiteral(":image_sha256"), notNull(v.imageSha256));
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        rollbackWrite(db);
        return failed(QStringLiteral("The visit of %1 was not recorded in %2")
                          .arg(v.sn.isEmpty() ? v.uid : v.sn, where_),
                      e);
    }
    if (!commitWrite(db))
        return failed(QStringLiteral("The visit of %1 was not recorded in %2")
                          .arg(v.sn.isEmpty() ? v.uid : v.sn, where_),
                      db.lastError());
    return {};
}

Result<QList<Visit>> SiteRecord::visits(const QString& unit) const {
    QSqlDatabase db = QSqlDatabase::database(connection_);
    QSqlQuery q(db);
    QString sql = QStringLiteral("SELECT ") + kVisitColumns + QStringLiteral(" FROM visits");
    if (!unit.isEmpty())
        sql += QStringLiteral(" WHERE UPPER(sn) = UPPER(:u) OR UPPER(uid) = UPPER(:u2)");
    sql += QStringLiteral(" ORDER BY started, visit_key");
    q.prepare(sql);
    if (!unit.isEmpty()) {
        q.bindValue(QStringLiteral(":u"), unit);
        q.bindValue(QStringLiteral(":u2"), unit);
    }
    if (!q.exec())
        return Failure{
            failed(QStringLiteral("The site record %1 cannot be read").arg(where_), q.lastError())
                .error()};
    QList<Visit> out;
    while (q.next())
        out << visitOf(q);
    return out;
}

Result<QList<Visit>> SiteRecord::visitsOf(const QString& sn, const QString& uid) const {
    if (sn.isEmpty() && uid.isEmpty())
        return QList<Visit>(); // a row found by its port alone names no unit
    auto all = visits(uid.isEmpty() ? sn : uid);
    if (all && all->isEmpty() && !uid.isEmpty() && !sn.isEmpty())
        all = visits(sn);
    return all;
}

Result<std::optional<Visit>> SiteRecord::latest(const QString& sn, const QString& uid) const {
    const auto all = visitsOf(sn, uid);
    if (!all)
        return Failure{all.error()};
    return all->isEmpty() ? std::optional<Visit>() : std::optional<Visit>(all->last());
}

Result<int> SiteRecord::merge(SiteRecord& other) {
    const auto theirs = other.visits();
    if (!theirs)
        return Failure{theirs.error()};
    const auto ours = visits();
    if (!ours)
        return Failure{ours.error()};
    QHash<QString, const Visit*> held;
    for (const Visit& v : *ours)
        held.insert(v.key, &v);
    int added = 0;
    for (const Visit& v : *theirs) {
        const Visit* mine = held.value(v.key);
        if (!mine) {
            if (const Status s = begin(v); !s)
                return Failure{s.error()};
            ++added;
        } else if (mine->result == QLatin1String(kInterrupted) &&
                   v.result != QLatin1String(kInterrupted)) {
            // The other laptop saw this visit end.
            if (const Status s = finish(v); !s)
                return Failure{s.error()};
        }
    }
    return added;
}

} // namespace gp::site
