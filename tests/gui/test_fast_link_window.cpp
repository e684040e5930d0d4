// The fast link in the desktop tool: taken from glimmerpane.ini at start-up,
// offered as a check box in advanced mode, and stored when the box changes.
#include "gui/main_window.h"
#include "support/fake_port.h"

#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace gp;

namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Rig {
    QTemporaryDir dir;
    Form1Options options;
    explicit Rig(const QByteArray& lines) {
        options.settingsPath = dir.filePath(QStringLiteral("glimmerpane.ini"));
        options.langFolders = {dir.path()};
        options.startFolder = dir.path();
        options.fixedPorts = {QStringLiteral("ttyUSB0")};
        options.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
        options.portFactory = [] { return std::make_unique<test::FakePort>(); };
        QFile f(options.settingsPath);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write("[default]\r\n" + lines);
    }
};

} // namespace

class TestFastLinkWindow : public QObject {
    Q_OBJECT
  private slots:
    void startsFromTheSettings_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<bool>("boxShown");
        QTest::addColumn<bool>("logged");
        QTest::newRow("default: tick-paced") << QByteArray() << false << 2 << false << false;
        QTest::newRow("on, normal mode")
            << QByteArray("FASTLINK=1\r\n") << true << 2 << false << false;
        QTest::newRow("on, advanced mode, own gap")
            << QByteArray("FASTLINK=1\r\nFASTLINKGAP=4\r\nADVANCED=plodnivster\r\n") << true << 4
            << true << false;
        QTest::newRow("nonsense is said and stays off")
            << QByteArray("FASTLINK=maybe\r\nADVANCED=plodnivster\r\n") << false << 2 << true
            << true;
    }
    void startsFromTheSettings() {
        QFETCH(QByteArray, lines);
        QFETCH(bool, fast);
        QFETCH(int, gapMs);
        QFETCH(bool, boxShown);
        QFETCH(bool, logged);
        Rig rig(lines);
        Form1 form(rig.options);
        QCOMPARE(form.link().fast(), fast);
        QCOMPARE(form.link().fastGapMs(), gapMs);
        auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckFastLink"));
        QVERIFY(box);
        QCOMPARE(box->isChecked(), fast);
        QCOMPARE(!box->isHidden(), boxShown);
        QCOMPARE(!form.link().log.lines().filter(QStringLiteral("FASTLINK")).isEmpty(), logged);
    }

    void theBoxSwitchesAndStores() {
        Rig rig("ADVANCED=plodnivster\r\nFASTLINKGAP=3\r\n");
        Form1 form(rig.options);
        auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckFastLink"));
        QVERIFY(box);
        box->click();
        QVERIFY(form.link().fast());
        QCOMPARE(form.link().fastGapMs(), 3);
        QVERIFY(readFile(rig.options.settingsPath).contains("FASTLINK=1\r\n"));
        box->click();
        QVERIFY(!form.link().fast());
        QVERIFY(readFile(rig.options.settingsPath).contains("FASTLINK=0\r\n"));
    }
};

QTEST_MAIN(TestFastLinkWindow)
#include "test_fast_link_window.moc"
