// The manual pages against the programs themselves: every option a program
// takes and every command glimmerpane-cli runs is described in its page, so
// a new option cannot ship undocumented.

#include "support/sim_process.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

QString sourcePath(const QString& relative) {
    return QDir(QString::fromLocal8Bit(qgetenv("GP_SOURCE_DIR"))).filePath(relative);
}

// The page as a reader sees its words: roff escapes and font changes gone.
QString manText(const QString& page) {
    QFile file(sourcePath(QStringLiteral("data/man/%1.1").arg(page)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    return text;
}

// What the program prints for its help, both streams.
QString helpOf(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(gp::test::programPath(program), args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(p.readAll());
}

QStringList longOptions(const QString& text) {
    QStringList options;
    static const QRegularExpression option(QStringLiteral("--[a-z0-9][a-z0-9-]*"));
    for (const QRegularExpressionMatch& m : option.globalMatch(text))
        if (!options.contains(m.captured()))
            options << m.captured();
    return options;
}

// The command names of glimmerpane-cli's help: the leading lower-case
// words of each usage line ("config save" of "config save FILE ...").
QStringList commandNames(const QString& help) {
    QStringList names;
    static const QRegularExpression word(QStringLiteral("^[a-z][a-z0-9-]*$"));
    bool inCommands = false;
    for (const QString& line : help.split('\n')) {
        if (line.startsWith(QLatin1String("commands:"))) {
            inCommands = true;
            continue;
        }
        if (!inCommands || !line.startsWith(QLatin1String("  ")))
            continue;
        QStringList name;
        for (const QString& w : line.trimmed().split(' ')) {
            if (!word.match(w).hasMatch())
                break;
            name << w;
            if (line.trimmed().mid(name.join(' ').size()).startsWith(QLatin1String("  ")))
                break; // the description begins
        }
        if (!name.isEmpty())
            names << name.join(' ');
    }
    return names;
}

} // namespace

class TestManPages : public QObject {
    Q_OBJECT
  private slots:
    void everyOptionIsDescribed_data();
    void everyOptionIsDescribed();
    void everyCommandIsDescribed();
};

void TestManPages::everyOptionIsDescribed_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("helpArgs");
    QTest::addColumn<QStringList>("alsoTakes"); // options the help text does not list
    QTest::newRow("glimmerpane") << "glimmerpane" << QStringList{"--help"} << QStringList{};
    QTest::newRow("glimmerpane-sim") << "glimmerpane-sim" << QStringList{"--help"} << QStringList{};
    QTest::newRow("glimmerpane-cli")
        << "glimmerpane-cli" << QStringList{"help"} << QStringList{"--version", "--sim-option"};
}

void TestManPages::everyOptionIsDescribed() {
    QFETCH(QString, program);
    QFETCH(QStringList, helpArgs);
    QFETCH(QStringList, alsoTakes);
    const QString help = helpOf(program, helpArgs);
    const QStringList options = longOptions(help) + alsoTakes;
    QVERIFY2(options.size() >= 3, qPrintable(program + " printed:\n" + help));
    const QString page = manText(program);
    QVERIFY2(!page.isEmpty(), qPrintable("no manual page for " + program));
    QStringList undocumented;
    for (const QString& o : options)
        if (!page.contains(o))
            undocumented << o;
    QVERIFY2(undocumented.isEmpty(), qPrintable(program + "(1) lacks " + undocumented.join(", ")));
}

void TestManPages::everyCommandIsDescribed() {
    const QStringList names = commandNames(helpOf("glimmerpane-cli", {"help"}));
    QVERIFY2(names.contains("config save") && names.contains("doctor") &&
                 names.contains("calibrate-outputs"),
             qPrintable(names.join(", ")));
    const QString page = manText("glimmerpane-cli");
    QStringList undocumented;
    for (const QString& name : names)
        if (!page.contains(QRegularExpression("\\n\\.BI? \"?" + QRegularExpression::escape(name) +
                                              "(\\s|\")")))
            undocumented << name;
    QVERIFY2(undocumented.isEmpty(),
             qPrintable("glimmerpane-cli(1) lacks the commands " + undocumented.join(", ")));
}

QTEST_GUILESS_MAIN(TestManPages)
#include "test_man_pages.moc"
