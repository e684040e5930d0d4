// glimmerpane-cli report against the simulated unit on a pseudo-terminal:
// HTML and PDF by the file name, the digest equal to the register lines a
// `config save` of the same unit writes, and a lost reply failing the report
// with nothing written.
#include "support/cli_run.h"
#include "support/sim_process.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using gp::test::cli;
using gp::test::Run;

namespace {
QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestCliReport : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void htmlReportCarriesTheDigestOfTheSavedConfig() {
        // A unit whose status word is not 0 (reset cause 4): the saved
        // file's status line must carry it as the report hashes it.
        gp::test::SimProcess sim({"--reset-cause", "4"});
        QVERIFY(!sim.path().isEmpty());
        QTemporaryDir dir;
        const QString html = dir.filePath("unit.html");
        const Run r = cli({"--port", sim.path(), "report", html});
        QCOMPARE(r.status, 0);
        const QByteArray doc = contents(html);
        QVERIFY(doc.startsWith("<!DOCTYPE html>"));
        QVERIFY(doc.contains("QRU-420"));
        QVERIFY(doc.contains("<h2>CO2 sensor</h2>"));
        const QString digest = r.out.section("cfg SHA-256 ", 1).trimmed();
        QCOMPARE(digest.size(), 64);
        QVERIFY(doc.contains(digest.toLatin1()));

        // The same unit saved: its register lines (the comment lines after
        // them carry the time of the save) hash to the report's digest.
        const QString cfg = dir.filePath("unit.cfg");
        QCOMPARE(cli({"--port", sim.path(), "config", "save", cfg}).status, 0);
        QVERIFY(contents(cfg).contains("S 0 00040000\r\n"));
        QByteArray lines;
        for (const QByteArray& line : contents(cfg).split('\n')) {
            if (line.isEmpty() || (line.startsWith('#') && !line.startsWith("#CFG_Format")))
                continue;
            lines += line + '\n';
        }
        QCOMPARE(QString(QCryptographicHash::hash(lines, QCryptographicHash::Sha256).toHex()),
                 digest);
    }

    void pdfReportOpensWithoutADisplay() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath("unit.pdf");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.remove("XDG_RUNTIME_DIR"); // as under cron or su: nothing to say about it
        p.setProcessEnvironment(env);
        p.start(gp::test::cliPath(), {"--simulate", "report", pdf});
        const Run r = gp::test::finish(p);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(!r.err.contains("XDG_RUNTIME_DIR"), qPrintable(r.err));
        const QByteArray doc = contents(pdf);
        QVERIFY(doc.startsWith("%PDF-"));
        QVERIFY(doc.contains("/Type /Page") || doc.contains("/Type/Page"));
    }

    // A reply lost once is read again; one the unit never gives still
    // leaves the document, which says on its first line that it is
    // incomplete and what it lacks, and the command fails.
    void aLostReplyIsReadAgainOrNamedInAnIncompleteReport_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("never");
        QTest::newRow("html, never answered") << "unit.html" << true;
        QTest::newRow("pdf, lost once") << "unit.pdf" << false;
    }
    void aLostReplyIsReadAgainOrNamedInAnIncompleteReport() {
        QFETCH(QString, file);
        QFETCH(bool, never);
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        // The 25th frame is a register read of the full read: the identity
        // read before it has 16 frames, the full read 257 (to frame 273);
        // the reads again follow it.
        QStringList args{"--simulate", "--sim-option", "drop@25"};
        if (never)
            args << "--sim-option"
                 << "drop@274"
                 << "--sim-option"
                 << "drop@275";
        const Run r = cli(args + QStringList{"report", path});
        QCOMPARE(r.status, never ? 1 : 0);
        QVERIFY(QFile::exists(path));
        QCOMPARE(r.err.contains(":R08#"), never);
        QCOMPARE(r.err.contains("Incomplete"), never);
        if (file.endsWith(".html"))
            QCOMPARE(contents(path).contains("<h1>Incomplete"), never);
        else
            QVERIFY(contents(path).startsWith("%PDF-"));
    }

    void usageErrors() {
        QCOMPARE(cli({"--simulate", "report"}).status, 2);
        QCOMPARE(cli({"--simulate", "report", "a.html", "b.html"}).status, 2);
    }
};

QTEST_GUILESS_MAIN(TestCliReport)
#include "test_cli_report.moc"
