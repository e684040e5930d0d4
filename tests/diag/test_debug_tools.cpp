// Debug commands of the diagnostics view: the frames they put on the wire
// and the exported string table.
#include "app/lang_dll.h"
#include "diag/debug_tools.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace gp;

class TestDebugTools : public QObject {
    Q_OBJECT
  private slots:
    void debugFlagsFrame_data() {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<QString>("frame");
        QTest::newRow("none") << QList<int>{} << ":D0300000000#";
        QTest::newRow("PSU") << QList<int>{0} << ":D0301000000#";
        QTest::newRow("Init Screen") << QList<int>{31} << ":D0300000080#";
        QTest::newRow("RTP Cal and BL_50") << QList<int>{11, 16} << ":D0300080100#";
        QTest::newRow("all") << [] {
            QList<int> all;
            for (int i = 0; i < 32; ++i)
                all << i;
            return all;
        }() << ":D03FFFFFFFF#";
    }
    void debugFlagsFrame() {
        QFETCH(QList<int>, ticked);
        QFETCH(QString, frame);
        std::array<bool, 32> boxes{};
        for (int i : ticked)
            boxes[static_cast<size_t>(i)] = true;
        QCOMPARE(gp::debugFlagsFrame(boxes), frame);
    }

    void spiRateFrame_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("frame"); // empty: nothing sent
        QTest::newRow("2.5 rounds down to even") << "2.5"
                                                 << ":D0A02000000#";
        QTest::newRow("3.5 rounds up to even") << "3.5"
                                               << ":D0A04000000#";
        QTest::newRow("2.6") << "2.6"
                             << ":D0A03000000#";
        QTest::newRow("plain 1") << "1"
                                 << ":D0A01000000#";
        QTest::newRow("blanks around") << "  2 "
                                       << ":D0A02000000#";
        QTest::newRow("negative") << "-1"
                                  << ":D0AFFFFFFFF#";
        QTest::newRow("-0.5 to zero") << "-0.5"
                                      << ":D0A00000000#";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("letters") << "fast"
                                 << "";
        QTest::newRow("number then text") << "2x"
                                          << "";
        QTest::newRow("beyond 32 bits") << "3000000000"
                                        << "";
        QTest::newRow("nan") << "nan"
                             << "";
    }
    void spiRateFrame() {
        QFETCH(QString, text);
        QFETCH(QString, frame);
        const auto f = gp::spiRateFrame(text, QLocale::c());
        QCOMPARE(f.value_or(QString()), frame);
    }

    void spiRateAcceptsLocaleDecimalComma() {
        const auto f = gp::spiRateFrame("1,5", QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(f.value_or(QString()), QString(":D0A02000000#"));
    }

    void oneClickCommands() {
        QCOMPARE(debugCommandFrame(0).value_or(""), QString(":SA#"));
        QVERIFY(!debugCommandFrame(1)); // whole-bank read: a batch
        QVERIFY(!debugCommandFrame(2)); // whole-bank write: a batch
        QCOMPARE(debugCommandFrame(3).value_or(""), QString(":SP#"));
        QCOMPARE(debugCommandFrame(4).value_or(""), QString(":D0401000000#"));
        QCOMPARE(debugCommandFrame(5).value_or(""), QString(":D08#"));
        QCOMPARE(debugCommandFrame(6).value_or(""), QString(":D080000FF00#"));
        QVERIFY(!debugCommandFrame(7));
        QCOMPARE(debugReadFrames(), (QStringList{":D05#", ":D06#", ":D07#", ":D08#"}));
    }

    void stringTableFileLines() {
        QTemporaryDir dir;
        const QString path = dir.filePath(kStringTableFile);
        QVERIFY(ExportStringTable(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        QVERIFY(lines.takeLast().isEmpty());
        QCOMPARE(lines.size(), LangDll::builtInStrings().size());
        int previous = -1;
        for (const QByteArray& raw : lines) {
            QVERIFY2(raw.endsWith('\r'), raw.constData());
            const QByteArray line = raw.chopped(1);
            const int tab = line.indexOf('\t');
            QVERIFY(tab > 0);
            bool ok = false;
            const int id = line.left(tab).toInt(&ok);
            QVERIFY(ok && id > previous && id <= 20000);
            QVERIFY(tab + 1 < line.size()); // never an empty text
            previous = id;
        }
        QVERIFY(lines.first().startsWith("101\t"));
        // The export is what a language catalogue reads.
        QCOMPARE(QString::fromUtf8(lines.first().chopped(1).mid(4)),
                 LangDll::builtInString(101).value());
    }

    void stringTableUnwritableFolderReportsError() {
        const Status written = ExportStringTable("/nonexistent-folder/StringTable.txt");
        QVERIFY(!written);
        QVERIFY(!written.error().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDebugTools)
#include "test_debug_tools.moc"
