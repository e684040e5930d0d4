// The ports offered: USB adapters also under their stable /dev/serial/by-id
// names, and the port in use kept in the list whatever the system lists.
#include "platform/port_list.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace gp;

Q_DECLARE_METATYPE(QList<gp::PortEntry>)

class TestPortList : public QObject {
    Q_OBJECT
  private slots:
    void stableNamesFollowTheirAdapter() {
        QTemporaryDir dir;
        const QString byId = dir.filePath("by-id");
        QVERIFY(QDir().mkpath(byId));
        QVERIFY(
            QFile::link("../../ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
        QVERIFY(QFile::link("../../ttyACM0", byId + "/usb-Quorvel_Bridge_0042-if00"));
        QList<PortEntry> ports{
            {"ttyUSB1", "FTDI", true}, {"ttyUSB0", "", true}, {"ttyS0", "", false}};
        const QList<PortEntry> out = withStableNames(ports, byId);
        QStringList names;
        for (const PortEntry& e : out)
            names << e.name;
        QCOMPARE(names,
                 (QStringList{"ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                              "ttyUSB0", "ttyS0"}));
        QCOMPARE(out.at(1).description, QStringLiteral("ttyUSB1: FTDI"));
        QVERIFY(out.at(1).usb);
        // No by-id folder (no USB adapter plugged in): the list as it was.
        QCOMPARE(withStableNames(ports, dir.filePath("none")).size(), 3);
    }

    void offered_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("nothing extra") << "ttyUSB0"
                                       << "" << QStringList{"ttyUSB0", "ttyS0"};
        QTest::newRow("open port the system stopped listing")
            << "ttyUSB3"
            << "ttyUSB3" << QStringList{"ttyUSB0", "ttyS0", "ttyUSB3"};
        QTest::newRow("open port listed under its path")
            << ""
            << "/dev/ttyS0" << QStringList{"ttyUSB0", "ttyS0"};
        QTest::newRow("stored pseudo-terminal")
            << "/dev/pts/7"
            << "" << QStringList{"ttyUSB0", "ttyS0", "/dev/pts/7"};
        QTest::newRow("open and stored the same link")
            << "/tmp/unit"
            << "/tmp/unit" << QStringList{"ttyUSB0", "ttyS0", "/tmp/unit"};
    }

    void offered() {
        QFETCH(QString, stored);
        QFETCH(QString, open);
        QStringList names;
        for (const PortEntry& e :
             offeredPorts({{"ttyUSB0", "", true}, {"ttyS0", "", false}}, stored, open))
            names << e.name;
        QTEST(names, "names");
    }
};

QTEST_MAIN(TestPortList)
#include "test_port_list.moc"
