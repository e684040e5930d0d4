// The file choosers' filters: the unit tool's filter form turned into Qt's,
// and a name typed without an extension taking the chosen filter's.
#include "platform/prompts.h"

#include <QtTest>

using namespace gp;

class TestPrompts : public QObject {
    Q_OBJECT
  private slots:
    void filterDecidesTheExtension_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter"); // the unit tool's form
        QTest::addColumn<int>("chosen");     // which of its filters
        QTest::addColumn<QString>("saved");
        const QString report = "HTML report{*.html)|*.html|PDF report{*.pdf)|*.pdf";
        QTest::newRow("PDF chosen, no extension")
            << "/t/report2" << report << 1 << "/t/report2.pdf";
        QTest::newRow("HTML chosen, no extension")
            << "/t/report2" << report << 0 << "/t/report2.html";
        QTest::newRow("extension typed is kept") << "/t/r.htm" << report << 1 << "/t/r.htm";
        QTest::newRow("a dot in the folder only") << "/t.d/log"
                                                  << "txt{*.txt)|*.txt" << 0 << "/t.d/log.txt";
        QTest::newRow("cancelled") << "" << report << 1 << "";
    }
    void filterDecidesTheExtension() {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(int, chosen);
        QFETCH(QString, saved);
        const QStringList qt = toQtFilter(filter).split(";;");
        QCOMPARE(withFilterExtension(typed, qt.value(chosen)), saved);
    }
};

QTEST_GUILESS_MAIN(TestPrompts)
#include "test_prompts.moc"
