// glimmerpane-cli site apply against simulated units on pseudo-terminals,
// each with its own serial number and unique id: three units at once get
// their own address and device id and a record as found and as left; an
// apply again writes nothing; a unit outside the plan, or one that keeps an
// old value, is refused or failed by name; a run killed mid-apply is
// finished by the next; the same record on a PostgreSQL server.
#include "support/cli_run.h"
#include "support/pg_cluster.h"
#include "support/sim_process.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <signal.h>

using gp::test::cli;
using gp::test::Run;
using gp::test::SimProcess;

namespace {

// A BACnet unit of our vendor id (device id settable) with its own sn and uid.
std::unique_ptr<SimProcess> unit(int n, const QStringList& more = {}) {
    return std::make_unique<SimProcess>(
        QStringList{"--features", "0x2C", "--serial", QStringLiteral("Q-100%1").arg(n), "--uid",
                    QStringLiteral("51525531-0A1B2C3D-00420017-0000000%1").arg(n)} +
        more);
}

QString reply(const QString& port, const QString& frame) {
    return cli({"--port", port, "send", frame}).out.trimmed();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Site {
  public:
    // A template saved from a unit, and a plan of units 1..3.
    explicit Site(const QString& templatePort) {
        templ_ = dir_.filePath("tmpl.cfg");
        ok_ = cli({"--port", templatePort, "config", "save", templ_}).status == 0;
        QFile f(plan());
        f.open(QIODevice::WriteOnly);
        f.write("\xEF\xBB\xBFsn;name;bus;template;address;baud;parity;stop_bits;device_id\r\n"
                "Q-1001;Room 1.01;A;tmpl.cfg;11;19200;even;1;101001\r\n"
                "Q-1002;\"Room 1.02; north\";A;tmpl.cfg;12;19200;even;1;101002\r\n"
                "Q-1003;Room 2.01;B;tmpl.cfg;11;9600;none;2;0\r\n");
    }
    bool ok() const { return ok_; }
    QString plan() const { return dir_.filePath("plan.csv"); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    Run apply(const QStringList& ports, const QStringList& more = {}) const {
        QStringList args{"--fast", "--log", dir_.filePath("{port}.log")};
        for (const QString& p : ports)
            args << "--port" << p;
        return cli(args + QStringList{"site", "apply", plan()} + more);
    }
    QJsonObject json(const QStringList& args) const {
        return QJsonDocument::fromJson(cli(QStringList{"--json"} + args).out.toUtf8()).object();
    }
    // What the units of the last apply were sent, all logs together.
    QByteArray sent() const {
        QByteArray all;
        for (const QString& log : QDir(dir_.path()).entryList({"*.log"}))
            all += contents(dir_.filePath(log));
        return all;
    }
    void forgetLogs() const {
        for (const QString& log : QDir(dir_.path()).entryList({"*.log"}))
            QFile::remove(dir_.filePath(log));
    }

  private:
    QTemporaryDir dir_;
    QString templ_;
    bool ok_ = false;
};

} // namespace

class TestCliSite : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void threeUnitsAtOnceThenAgainWritesNothing() {
        auto u1 = unit(1), u2 = unit(2), u3 = unit(3);
        const QStringList ports{u1->path(), u2->path(), u3->path()};
        Site site(ports[0]);
        QVERIFY(site.ok());
        const Run r = site.apply(ports);
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        // Each unit its own address, line settings and device id.
        QCOMPARE(reply(ports[0], ":R21#"), QString("!R210B010100#"));
        QCOMPARE(reply(ports[1], ":R21#"), QString("!R210C010100#"));
        QCOMPARE(reply(ports[2], ":R21#"), QString("!R210B000001#"));
        QCOMPARE(reply(ports[0], ":R24#"), QString("!R24898A0100#")); // 101001
        QCOMPARE(reply(ports[1], ":R24#"), QString("!R248A8A0100#"));
        QCOMPARE(reply(ports[2], ":R24#"), QString("!R2400000000#"));
        const QString record = site.path("site.sqlite");
        const QJsonObject h = site.json({"site", "history", "Q-1002", "--site", record});
        const QJsonArray visits = h.value("visits").toArray();
        QCOMPARE(visits.size(), 1);
        QCOMPARE(visits[0].toObject().value("result").toString(), QString("done"));
        QCOMPARE(visits[0].toObject().value("changed").toArray(), (QJsonArray{"21", "24"}));
        const Run diff = cli({"site", "diff", "Q-1002", "--site", record});
        QVERIFY2(diff.out.contains("0x21 (N 33): found 01000000, left 0C010100"),
                 qPrintable(diff.out));
        // The site report: a line a unit, its as-left digest the one the
        // commissioning report of the unit gives.
        const QString csv = site.path("site.csv");
        QCOMPARE(cli({"site", "export", csv, "--site", record}).status, 0);
        const QList<QByteArray> lines = contents(csv).trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        const QByteArray second = lines[2].trimmed();
        QVERIFY2(second.startsWith("Room 1.02; north,Q-1002,") && second.contains(",done,"),
                 second.constData());
        const Run report = cli({"--port", ports[1], "report", site.path("u2.html")});
        const QString digest = report.out.section("cfg SHA-256 ", 1).trimmed();
        QCOMPARE(digest.size(), 64);
        QVERIFY2(second.endsWith(digest.toLatin1()), qPrintable(digest + " " + second));

        site.forgetLogs();
        const Run again = site.apply(ports);
        QVERIFY2(again.status == 0, qPrintable(again.out + again.err));
        QCOMPARE(again.out.count("already as planned"), 3);
        QVERIFY(!site.sent().isEmpty());
        QVERIFY2(!site.sent().contains("[Tx] :W") && !site.sent().contains(":SU#"),
                 site.sent().constData());
        const Run status = cli({"site", "status", site.plan()});
        QCOMPARE(status.out.count("already as planned"), 3);

        // Someone changes a setting of unit 1: read again, it says so, and
        // the next apply puts it back and the record keeps what it found.
        QCOMPARE(reply(ports[0], ":W2801020304#"), QString("!W2801020304#"));
        const Run read = cli({"--port", ports[0], "site", "status", site.plan(), "--read"});
        QVERIFY2(read.out.contains("Read now: line 2  Q-1001  Room 1.01: changed since its "
                                   "as-left of ") &&
                     read.out.contains(": 28"),
                 qPrintable(read.out + read.err));
        const Run back = site.apply({ports[0]});
        QVERIFY2(back.status == 0 && back.out.contains("changed since its as-left"),
                 qPrintable(back.out + back.err));
        QVERIFY2(cli({"site", "status", site.plan()})
                     .out.contains("Room 1.01: done (found changed since its as-left of "),
                 qPrintable(back.out));
    }

    void aUnitOutsideThePlanIsRefused() {
        auto u1 = unit(1);
        auto stranger = unit(9);
        Site site(u1->path());
        const Run r = site.apply({stranger->path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("Q-1009") && r.err.contains("00000009") &&
                     r.err.contains("Nothing was written"),
                 qPrintable(r.err));
        QVERIFY(!site.sent().contains("[Tx] :W"));
    }

    // The unit echoes the write of register 21 but keeps its old value: the
    // read-back fails the unit, naming the register.
    void aUnitThatKeepsAnOldValueFailsNamingIt() {
        auto u1 = unit(1, {"--stuck-register", "21"});
        Site site(u1->path());
        const Run r = site.apply({u1->path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("differs") && r.err.contains("21"), qPrintable(r.err));
        const Run status = cli({"site", "status", site.plan()});
        QVERIFY2(status.out.contains("Room 1.01: failed: ") && status.out.contains("21"),
                 qPrintable(status.out));
    }

    // Killed while it writes: the record opens, the visit is interrupted,
    // and the next apply finishes the unit.
    void killedMidApplyIsFinishedByTheNext() {
        auto u1 = unit(1);
        Site site(u1->path());
        QProcess p;
        const QString log = site.path("killed.log");
        p.start(gp::test::cliPath(),
                {"--port", u1->path(), "--log", log, "site", "apply", site.plan()});
        QVERIFY(p.waitForStarted());
        // Killed once the writes have begun (after the whole-unit read).
        QTRY_VERIFY_WITH_TIMEOUT(
            contents(log).contains("[Tx] :W") || p.state() == QProcess::NotRunning, 60000);
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        p.waitForFinished();
        const Run status = cli({"site", "status", site.plan()});
        QCOMPARE(status.status, 0);
        QVERIFY2(status.out.contains("Room 1.01: interrupted"), qPrintable(status.out));
        const Run r = site.apply({u1->path()});
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        QVERIFY2(cli({"site", "status", site.plan()}).out.contains("Room 1.01: done"),
                 qPrintable(r.out));
        QCOMPARE(reply(u1->path(), ":R21#"), QString("!R210B010100#"));
    }

    void theSameApplyOnAPostgreSQLServer() {
        gp::test::PgCluster pg;
        QVERIFY2(pg.ok(), qPrintable(pg.error()));
        qputenv("PGUSER", "gp");
        auto u2 = unit(2);
        Site site(u2->path());
        const Run r = site.apply({u2->path()}, {"--site", pg.url(), "--engineer", "ann"});
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        const QJsonObject h = site.json(
            {"site", "history", "51525531-0A1B2C3D-00420017-00000002", "--site", pg.url()});
        const QJsonArray visits = h.value("visits").toArray();
        QCOMPARE(visits.size(), 1);
        QCOMPARE(visits[0].toObject().value("engineer").toString(), QString("ann"));
        QCOMPARE(visits[0].toObject().value("changed").toArray(), (QJsonArray{"21", "24"}));
        QVERIFY(!QFile::exists(site.path("site.sqlite")));
    }
};

QTEST_GUILESS_MAIN(TestCliSite)
#include "test_cli_site.moc"
