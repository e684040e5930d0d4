// glimmerpane-cli as a shell user meets it: help on stdout, options in any
// place and form, the port from the environment, Ctrl+C, NDJSON watches and
// JSON failures that say why.
#include "support/cli_run.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using gp::test::cli;
using gp::test::Run;

class TestCliShell : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
            QSKIP("GP_BUILD_DIR names the build folder with glimmerpane-cli");
    }

    void helpGoesToStdout_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("--help") << QStringList{"--help"};
        QTest::newRow("-h") << QStringList{"-h"};
        QTest::newRow("help") << QStringList{"help"};
        QTest::newRow("help config: its subcommands") << QStringList{"help", "config"};
    }
    void helpGoesToStdout() {
        QFETCH(QStringList, args);
        const Run r = cli(args);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("config save") && r.out.contains("config load"), qPrintable(r.out));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    // Bad usage says what is wrong in one line and where to read more.
    void usageErrorIsOneLineAndAHint_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("hint");
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "frobnicate"
                                         << "Try 'glimmerpane-cli help' for more.";
        QTest::newRow("config alone lists its subcommands")
            << QStringList{"config"} << "config save, config load, config diff"
            << "Try 'glimmerpane-cli help config' for more.";
        QTest::newRow("co2 alone") << QStringList{"co2"} << "co2 read, co2 set, co2 calibrate"
                                   << "Try 'glimmerpane-cli help co2' for more.";
        QTest::newRow("unknown subcommand") << QStringList{"config", "frob"} << "config save"
                                            << "Try 'glimmerpane-cli help config' for more.";
    }
    void usageErrorIsOneLineAndAHint() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QFETCH(QString, hint);
        const Run r = cli(args);
        QCOMPARE(r.status, 2);
        const QStringList lines = r.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains(says), qPrintable(r.err));
        QCOMPARE(lines[1], hint);
    }

    // A log that was asked for and cannot be written: nothing is sent.
    void unwritableLogIsAnErrorBeforeAnythingIsSent() {
        const Run r = cli({"--simulate", "--log", "/nonexistent/dir/t.log", "identity"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("Nothing was sent") && r.out.isEmpty(), qPrintable(r.err));
    }

    // Every option on a command's usage line is explained on a line of its
    // own in the command's help, asked either way.
    void commandHelpExplainsEveryOption_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("help comms set") << QStringList{"help", "comms", "set"};
        QTest::newRow("comms set --help") << QStringList{"comms", "set", "--help"};
        QTest::newRow("watch -h") << QStringList{"watch", "-h"};
        QTest::newRow("watch --co2 --help") << QStringList{"watch", "--co2", "--help"};
        QTest::newRow("help product set") << QStringList{"help", "product", "set"};
        QTest::newRow("help firmware") << QStringList{"help", "firmware"};
        QTest::newRow("help config save") << QStringList{"help", "config", "save"};
        QTest::newRow("help restore") << QStringList{"help", "restore"};
        QTest::newRow("help co2 set") << QStringList{"help", "co2", "set"};
    }
    void commandHelpExplainsEveryOption() {
        QFETCH(QStringList, args);
        const Run r = cli(args);
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n');
        QVERIFY2(lines.first().startsWith("usage: "), qPrintable(r.out));
        static const QRegularExpression option(QStringLiteral("--[a-z0-9][a-z0-9-]*"));
        QStringList unexplained;
        for (const QRegularExpressionMatch& m : option.globalMatch(lines.first())) {
            const QString o = m.captured();
            bool explained = false;
            for (const QString& l : lines.mid(1))
                explained =
                    explained || l.trimmed().startsWith(o + ' ') || l.trimmed().startsWith(o + ',');
            if (!explained && !(o == "--co2" && lines.first().contains("watch --co2")))
                unexplained << o;
        }
        QVERIFY2(unexplained.isEmpty(), qPrintable(unexplained.join(", ") + "\n" + r.out));
    }

    void optionsInAnyPlaceAndForm_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("after the command") << QStringList{"identity", "--simulate", "--json"};
        QTest::newRow("joined value")
            << QStringList{"--simulate", "--log=LOG", "--json", "identity"};
        QTest::newRow("joined after the command")
            << QStringList{"--simulate", "identity", "--json", "--log=LOG"};
    }
    void optionsInAnyPlaceAndForm() {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        const QString log = dir.filePath("traffic.log");
        args.replaceInStrings("LOG", log);
        const Run r = cli(args);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(QJsonDocument::fromJson(r.out.toUtf8()).object().value("status").toInt(-1), 0);
        if (args.join(' ').contains("--log"))
            QVERIFY(QFileInfo(log).size() > 0);
    }

    void portFromTheEnvironment() {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("GLIMMERPANE_PORT", "/dev/gp-no-such-port");
        p.setProcessEnvironment(env);
        p.start(gp::test::cliPath(), {"identity"});
        const Run r = gp::test::finish(p);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("/dev/gp-no-such-port"), qPrintable(r.err));
    }

    // The link reports the problem and the session would have said it again.
    void portProblemSaidOnce() {
        const Run r = cli({"--port", "/dev/gp-no-such-port", "identity"});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err.count("does not exist"), 1);
    }

    void baudAsItsRate_data() {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("shown");
        QTest::newRow("rate 19200") << "19200"
                                    << "baud\t1\t19200\n";
        QTest::newRow("rate 76800 is code 3") << "76800"
                                              << "baud\t3\t57600/76800\n";
        QTest::newRow("code 2 still taken") << "2"
                                            << "baud\t2\t38400\n";
    }
    void baudAsItsRate() {
        QFETCH(QString, baud);
        QFETCH(QString, shown);
        const Run r = cli({"--simulate", "comms", "set", "--baud", baud});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(shown), qPrintable(r.out));
    }

    void unknownBaudRateRefused() {
        const Run r = cli({"--simulate", "comms", "set", "--baud=4800"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("19200"), qPrintable(r.err));
    }

    void ctrlCExits130_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("watch") << QStringList{"--simulate", "watch", "--interval", "50"};
        QTest::newRow("watch, no pause: Ctrl+C lands in a sample")
            << QStringList{"--simulate", "watch", "--interval", "0"};
        QTest::newRow("watch --co2") << QStringList{"--simulate", "watch", "--co2"};
    }
    void ctrlCExits130() {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(gp::test::cliPath(), args);
        // The first sample shows the watch is running.
        QByteArray seen;
        while (seen.count('\n') < 2 && p.waitForReadyRead(30000))
            seen += p.readAllStandardOutput();
        QVERIFY2(seen.count('\n') >= 2, seen.constData());
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        const Run r = gp::test::finish(p, 30000);
        QCOMPARE(r.status, 130);
        // The interrupt is not the unit's fault.
        QVERIFY2(!r.err.contains("not answered"), qPrintable(r.err));
    }

    // Each sample is a JSON object on a line of its own, under the same
    // time column in both watches; the last line is the summary.
    void watchJsonIsOneObjectPerLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("watch") << QStringList{"watch", "--count", "2", "--interval", "50"};
        QTest::newRow("watch --co2") << QStringList{"watch", "--co2", "--count", "2"};
    }
    void watchJsonIsOneObjectPerLine() {
        QFETCH(QStringList, args);
        const Run r = cli(QStringList{"--simulate", "--json"} + args);
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject sample = QJsonDocument::fromJson(lines.at(i).toUtf8()).object();
            QVERIFY2(sample.value("t_ms").isDouble(), qPrintable(lines.at(i)));
        }
        QCOMPARE(QJsonDocument::fromJson(lines.last().toUtf8()).object().value("status").toInt(-1),
                 0);
    }

    // The guided profile change streams its steps by name, one compact
    // object a line, and ends with the summary on a line of its own.
    void profileJsonIsOneObjectPerLineWithStepNames() {
        QTemporaryDir dir;
        const QString pro = dir.filePath("room.pro");
        QFile f(pro);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[profile_0]\nname=Room\ncfg=0AC00300\n");
        f.close();
        const Run r = cli({"--simulate", "--json", "--yes", "profile", pro});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QStringList steps;
        for (const QString& l : lines) {
            QJsonParseError e;
            const QJsonObject o = QJsonDocument::fromJson(l.toUtf8(), &e).object();
            QVERIFY2(e.error == QJsonParseError::NoError, qPrintable(l));
            if (o.contains("step"))
                steps << o.value("step").toString();
        }
        QVERIFY2(steps.contains("Reading settings") && steps.last() == "complete",
                 qPrintable(steps.join(" | ")));
        QCOMPARE(QJsonDocument::fromJson(lines.last().toUtf8()).object().value("status").toInt(-1),
                 0);
    }

    void jsonFailuresCarryTheirMessage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown command")
            << QStringList{"--json", "frobnicate"} << 2 << "frobnicate";
        QTest::newRow("unknown option")
            << QStringList{"--json", "--colour", "identity"} << 2 << "--colour";
        QTest::newRow("no port") << QStringList{"--json", "identity"} << 2 << "No port given";
        QTest::newRow("profile file missing: why")
            << QStringList{"--json", "--simulate", "--yes", "profile", "/nonexistent.pro"} << 2
            << "No such file or directory";
        QTest::newRow("profile without a terminal asks for --yes")
            << QStringList{"--json", "--simulate", "profile", "/dev/null"} << 2 << "--yes";
    }
    void jsonFailuresCarryTheirMessage() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("GLIMMERPANE_PORT");
        p.setProcessEnvironment(env);
        p.start(gp::test::cliPath(), args);
        const Run r = gp::test::finish(p);
        QCOMPARE(r.status, status);
        const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(doc.value("status").toInt(-1), status);
        QVERIFY2(doc.value("error").toString().contains(says), qPrintable(r.out));
    }
};

QTEST_GUILESS_MAIN(TestCliShell)
#include "test_cli_shell.moc"
