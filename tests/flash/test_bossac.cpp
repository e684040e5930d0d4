// The flashing tool's command lines and the reading of its output.
#include "flash/bossac.h"

#include <QtTest>

using namespace gp::flash;

Q_DECLARE_METATYPE(WriteOptions)

class TestBossac : public QObject {
    Q_OBJECT
  private slots:
    void lowLevelCommandLine_data() {
        QTest::addColumn<WriteOptions>("options");
        QTest::addColumn<QString>("expected");
        const QString tail = "--usb-port=0 -pttyUSB3 \"/home/eng/fw v2/unit.bin\"";
        QTest::newRow("window defaults") << WriteOptions{} << "bossac -w -e -u -b -v " + tail;
        WriteOptions lock;
        lock.lock = true;
        QTest::newRow("lock replaces unlock in place") << lock << "bossac -w -e -l -b -v " + tail;
        WriteOptions all{true, true, true, true, true, false, true};
        QTest::newRow("every option") << all << "bossac -w -e -u -s -b -c -t -v " + tail;
        WriteOptions none{false, false, false, false, false, false, false};
        QTest::newRow("nothing ticked") << none << "bossac -w -u " + tail;
    }
    void lowLevelCommandLine() {
        QFETCH(WriteOptions, options);
        QFETCH(QString, expected);
        QCOMPARE(buildCommandLine(options, "ttyUSB3", "/home/eng/fw v2/unit.bin"), expected);
    }

    // The built line, split as the window runs it, gives the tool exactly
    // the words meant: the port as one "-p" word, the image as one word it
    // cannot take for an option.
    void builtLineSplitsBackIntoTheWordsMeant_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("image"); // the last word the tool gets
        const QString bin = "/home/eng/unit.bin";
        QTest::newRow("plain") << "ttyUSB0" << bin << bin;
        QTest::newRow("path with spaces") << "/dev/pts/4"
                                          << "/home/eng/fw v2/unit.bin"
                                          << "/home/eng/fw v2/unit.bin";
        QTest::newRow("quote and backslash in path") << "ttyS0"
                                                     << "/tmp/a\"b\\c.bin"
                                                     << "/tmp/a\"b\\c.bin";
        QTest::newRow("would-be injection in path") << "ttyS0"
                                                    << "/tmp/x\"; rm -rf ~; \"$(reboot)`id`.bin"
                                                    << "/tmp/x\"; rm -rf ~; \"$(reboot)`id`.bin";
        QTest::newRow("port with a space and options") << "/tmp/my unit -R --erase" << bin << bin;
        QTest::newRow("port with quotes and a dollar") << "/tmp/a'b\"c$HOME`x`" << bin << bin;
        QTest::newRow("port with tab, newline and backslash") << "/tmp/a\tb\nc\\d" << bin << bin;
        // Found by fuzzing: a name ending in a line break passed as plain.
        QTest::newRow("port ending in a newline") << "ttyS0\n" << bin << bin;
        QTest::newRow("relative image named like an option") << "ttyUSB0"
                                                             << "-R.bin"
                                                             << "./-R.bin";
        QTest::newRow("relative image that is an option") << "ttyUSB0"
                                                          << "--erase"
                                                          << "./--erase";
        QTest::newRow("absolute image with a dash folder") << "ttyUSB0"
                                                           << "/-x/unit.bin"
                                                           << "/-x/unit.bin";
        QTest::newRow("relative image in a folder") << "ttyUSB0"
                                                    << "fw/u.bin"
                                                    << "fw/u.bin";
    }
    void builtLineSplitsBackIntoTheWordsMeant() {
        QFETCH(QString, port);
        QFETCH(QString, path);
        QFETCH(QString, image);
        const auto words = splitCommandLine(buildCommandLine(WriteOptions{}, port, path));
        QVERIFY(words);
        QCOMPARE(*words, QStringList({"bossac", "-w", "-e", "-u", "-b", "-v", "--usb-port=0",
                                      "-p" + port, image}));
        // The guided update hands over the same words, without a line.
        QCOMPARE(guidedUpdateArguments(port, path).mid(6), QStringList({"-p" + port, image}));
    }

    void splitting_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("ok");
        QTest::newRow("blanks") << "  a  b\tc " << QStringList{"a", "b", "c"} << true;
        QTest::newRow("single quotes literal")
            << "a 'b \\ \"c' d" << QStringList{"a", "b \\ \"c", "d"} << true;
        QTest::newRow("joined parts") << "x\"y z\"'w'" << QStringList{"xy zw"} << true;
        QTest::newRow("empty quoted word") << "a \"\" b" << QStringList{"a", "", "b"} << true;
        QTest::newRow("unclosed quote") << "bossac \"/tmp/x" << QStringList{} << false;
        QTest::newRow("empty text") << "" << QStringList{} << true;
    }
    void splitting() {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QFETCH(bool, ok);
        const auto got = splitCommandLine(text);
        QCOMPARE(bool(got), ok);
        if (ok)
            QCOMPARE(*got, words);
    }

    void progressLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("fraction");
        QTest::newRow("part way") << "[=====          ] 45% (11/24 pages)" << 11.0 / 24;
        QTest::newRow("done") << "[===============] 100% (12/12 pages)" << 1.0;
        QTest::newRow("not a progress line") << "Write 6000 bytes to flash (24 pages)" << -1.0;
    }
    void progressLines() {
        QFETCH(QString, line);
        QFETCH(double, fraction);
        const auto p = progressOf(line);
        QCOMPARE(p.has_value(), fraction >= 0);
        if (p)
            QCOMPARE(*p, fraction);
    }

    void guidedUpdateArgumentsKeepThePathWhole() {
        QCOMPARE(
            guidedUpdateArguments("ttyUSB0", "/a b/c.bin"),
            QStringList({"-e", "-u", "-w", "-b", "-v", "--usb-port=0", "-pttyUSB0", "/a b/c.bin"}));
    }
};

QTEST_GUILESS_MAIN(TestBossac)
#include "test_bossac.moc"
