// Site plans as spreadsheets export them, and every problem the check must
// name by line and column before anything is sent.
#include "site/site_plan.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace gp::site;

namespace {
const QByteArray kTemplate =
    "#CFG_Format=1\r\nR 0 1000C03A\r\nR 1 00000010\r\nN 36 00000000\r\nS 0 00000000\r\n";

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}
} // namespace

class TestSitePlan : public QObject {
    Q_OBJECT
  private slots:
    // The same plan in the forms a spreadsheet writes: one reading.
    void spreadsheetFormsReadAlike_data() {
        QTest::addColumn<QByteArray>("plan");
        QTest::newRow("comma, LF") << QByteArray("sn,name,template,address\nQ-1,\"Room 1, north\","
                                                 "t.cfg,5\nQ-2,Room 2,t.cfg,6\n");
        QTest::newRow("semicolon, CR LF, BOM")
            << QByteArray("\xEF\xBB\xBFsn;name;template;address\r\nQ-1;Room 1, north;t.cfg;5\r\n"
                          "Q-2;Room 2;t.cfg;6\r\n\r\n");
        QTest::newRow("quoted fields, doubled quotes, header in capitals")
            << QByteArray("\"SN\",\"Name\",\"Template\",\"Address\"\r\n\"Q-1\",\"Room 1, "
                          "north\",\"t.cfg\",\"5\"\r\n\"Q-2\",\"Room 2\",\"t.cfg\",\"6\"");
    }
    void spreadsheetFormsReadAlike() {
        QFETCH(QByteArray, plan);
        QTemporaryDir dir;
        write(dir, "t.cfg", kTemplate);
        const SitePlan p = readPlan(write(dir, "plan.csv", plan));
        QVERIFY2(p.ok(), qPrintable(p.problems.value(0).toString(p.header)));
        QCOMPARE(p.rows.size(), 2);
        QCOMPARE(p.rows[0].name, QString("Room 1, north"));
        QCOMPARE(p.rows[1].address, std::optional<int>(6));
        QCOMPARE(p.rows[1].line, 3);
        QCOMPARE(p.rows[0].templatePath, dir.filePath("t.cfg"));
        QCOMPARE(p.summary(), QString("2 units on 1 bus, 1 template"));
        QCOMPARE(p.rowFor("q-2", "", "")->name, QString("Room 2"));
    }

    // Each row a plan with one fault: the check names it at its place.
    void problemsAreNamedWithLineAndColumn_data() {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<QString>("problem");
        const QByteArray h = "sn,uid,bus,template,address,baud,parity,stop_bits,device_id\n";
        const QByteArray ok = "Q-1,,A,t.cfg,1,9600,none,1,0\n";
        QTest::newRow("unknown column") << QByteArray("sn,template,adress\nQ-1,t.cfg,4\n")
                                        << "line 1, column 3 (adress): unknown column";
        QTest::newRow("address out of range") << h + "Q-1,,A,t.cfg,248,9600,none,1,0\n"
                                              << "line 2, column 5 (address): 248 is not";
        QTest::newRow("address not a number") << h + "Q-1,,A,t.cfg,1e1,9600,none,1,0\n"
                                              << "line 2, column 5 (address): 1e1 is not";
        QTest::newRow("baud") << h + "Q-1,,A,t.cfg,1,4800,none,1,0\n"
                              << "line 2, column 6 (baud): 4800 is not a baud rate";
        QTest::newRow("parity") << h + "Q-1,,A,t.cfg,1,9600,mark,1,0\n"
                                << "line 2, column 7 (parity): mark is not";
        QTest::newRow("stop bits") << h + "Q-1,,A,t.cfg,1,9600,none,3,0\n"
                                   << "line 2, column 8 (stop_bits): 3 is not";
        QTest::newRow("device id") << h + "Q-1,,A,t.cfg,1,9600,none,1,4194304\n"
                                   << "line 2, column 9 (device_id): 4194304 is not";
        QTest::newRow("template missing") << h + "Q-1,,A,gone.cfg,1,9600,none,1,0\n"
                                          << "line 2, column 4 (template): the template gone.cfg "
                                             "does not exist";
        QTest::newRow("template malformed") << h + "Q-1,,A,bad.cfg,1,9600,none,1,0\n"
                                            << "line 2, column 4 (template): ";
        QTest::newRow("no template") << h + "Q-1,,A,,1,9600,none,1,0\n"
                                     << "line 2, column 4 (template): no template is given";
        QTest::newRow("firmware image missing")
            << QByteArray("sn,template,firmware\nQ-1,t.cfg,fw.bin\n")
            << "line 2, column 3 (firmware): the firmware image fw.bin does not exist";
        QTest::newRow("same sn twice") << h + ok + "q-1,,B,t.cfg,2,9600,none,1,0\n"
                                       << "line 3, column 1 (sn): sn q-1 is given on line 2 too";
        QTest::newRow("same uid twice")
            << h + "Q-1,00000001-2-3-4,A,t.cfg,1,,,,\nQ-2,00000001-2-3-4,A,t.cfg,2,,,,\n"
            << "line 3, column 2 (uid): uid 00000001-2-3-4 is given on line 2 too";
        QTest::newRow("same address twice on one bus")
            << h + ok + "Q-2,,A,t.cfg,1,9600,none,1,0\n"
            << "line 3, column 5 (address): address 1 on bus \"A\" is given on line 2 too";
        QTest::newRow("same device id twice in the site")
            << h + "Q-1,,A,t.cfg,1,,,,7\nQ-2,,B,t.cfg,1,,,,7\n"
            << "line 3, column 9 (device_id): device id 7 is given on line 2 too";
        QTest::newRow("no way to find the unit") << h + ",,A,t.cfg,1,,,,\n"
                                                 << "line 2: no sn, uid or port finds the unit";
        QTest::newRow("a row of too many fields") << h + "Q-1,,A,t.cfg,1,9600,none,1,0,9\n"
                                                  << "line 2: the row has 10 field(s)";
        QTest::newRow("a header alone") << h << "line 1: the plan has no unit rows";
    }
    void problemsAreNamedWithLineAndColumn() {
        QFETCH(QByteArray, plan);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        write(dir, "t.cfg", kTemplate);
        write(dir, "bad.cfg", "#CFG_Format=1\r\nN 8e1 0A000000\r\n");
        const SitePlan p = readPlan(write(dir, "plan.csv", plan));
        QStringList all;
        for (const PlanProblem& pr : p.problems)
            all << pr.toString(p.header);
        QCOMPARE(all.size(), 1);
        QVERIFY2(all.first().startsWith(problem), qPrintable(all.join('\n')));
    }

    // Addresses repeat across buses, device id 0 (automatic) across the site.
    void whatMayRepeat() {
        QTemporaryDir dir;
        write(dir, "t.cfg", kTemplate);
        const SitePlan p = readPlan(write(dir, "plan.csv",
                                          "sn,bus,template,address,device_id\n"
                                          "Q-1,A,t.cfg,1,0\nQ-2,B,t.cfg,1,0\nQ-3,,t.cfg,1,0\n"));
        QVERIFY(p.ok());
        QCOMPARE(p.summary(), QString("3 units on 3 buses, 1 template"));
    }
};

QTEST_GUILESS_MAIN(TestSitePlan)
#include "test_site_plan.moc"
