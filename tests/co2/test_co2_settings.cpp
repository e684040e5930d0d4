// The CO2 settings: the lines each Write button sends, the follow-up lines on
// each acknowledgement and reply, and what the fields show; against a
// scripted port for exact lines, and against the simulated sensor behind the
// simulated unit for whole sequences.
#include "co2/co2_settings.h"
#include "sim/co2_sensor.h"
#include "sim/sim_port.h"
#include "support/fake_port.h"

#include <QtTest>

using namespace gp;
using gp::test::FakePort;

namespace {

struct Rig {
    Link link;
    Co2Link co2{link};
    Co2Settings settings{co2};
    FakePort* port;
    Rig() {
        auto p = std::make_unique<FakePort>();
        port = p.get();
        link.serial.setPort(std::move(p));
        link.serial.choosePort("ttyFAKE0");
        co2.Co2Enter();
        // The read sequence is not what these tests look at.
        while (!co2.idle())
            co2.tick();
        port->written.clear();
    }
    QStringList takeSent() {
        QStringList out = port->writtenFrames();
        port->written.clear();
        return out;
    }
    // Clicks a Write button and runs the write sequence to its third line.
    QStringList write(int field, const QString& text, int button) {
        settings.setText(field, text);
        settings.press(button);
        for (int i = 0; i < 3; ++i)
            co2.tickWrite();
        return takeSent();
    }
};

struct SimRig {
    Link link;
    Co2Link co2{link};
    Co2Settings settings{co2};
    sim::SimPort* port;
    sim::Co2Sensor* sensor;
    explicit SimRig(sim::Co2SensorOptions options = {}) {
        auto p = std::make_unique<sim::SimPort>();
        port = p.get();
        auto s = std::make_unique<sim::Co2Sensor>(options);
        sensor = s.get();
        port->unit().setPassThroughPeer(std::move(s));
        link.serial.setPort(std::move(p));
        link.serial.choosePort("simunit0");
    }
    // 20 ms steps of virtual time; the CO2 timers every fifth step.
    void run(int ms) {
        for (int t = 0; t < ms; t += 20) {
            port->advance(20);
            link.tick();
            if ((t / 20) % 5 == 4)
                co2.tick();
        }
    }
    void runUntilIdle() {
        for (int i = 0; i < 200 && !co2.idle(); ++i)
            run(100);
        run(500); // the last replies and their follow-ups
    }
};

} // namespace

class TestCo2Settings : public QObject {
    Q_OBJECT
  private slots:
    // A two-byte write: the high byte queued, the low byte on the high
    // byte's acknowledgement, the read-back on the low byte's, and the field
    // showing what the sensor then reports.
    void twoByteWrites_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("highLine");
        QTest::addColumn<QString>("lowLine");
        QTest::addColumn<int>("shownField");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ambient 450") << int(FieldAmbient) << "450" << int(ButtonAmbient) << "P 10 1"
                                     << "P 11 194" << int(FieldAmbient) << "450";
        QTest::newRow("ambient 6000 limited to 5000")
            << int(FieldAmbient) << "6000" << int(ButtonAmbient) << "P 10 19"
            << "P 11 136" << int(FieldAmbient) << "5000";
        QTest::newRow("ambient rounds half to even")
            << int(FieldAmbient) << "450.5" << int(ButtonAmbient) << "P 10 1"
            << "P 11 194" << int(FieldAmbient) << "450";
        QTest::newRow("interval 7 days")
            << int(FieldIntervalDays) << "7" << int(ButtonInterval) << "P 05 47"
            << "P 06 64" << int(FieldIntervalDays) << "7";
        QTest::newRow("calibration concentration negative limited to 0")
            << int(FieldCalConcentration) << "-20" << int(ButtonCalConcentration) << "P 08 0"
            << "P 09 0" << int(FieldCalConcentration) << "0";
    }
    void twoByteWrites() {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(int, button);
        QFETCH(QString, highLine);
        QFETCH(QString, lowLine);
        QFETCH(int, shownField);
        QFETCH(QString, shown);
        Rig r;
        QCOMPARE(r.write(field, text, button),
                 (QStringList{"K 0\r\n", highLine + "\r\n", "K 1\r\n"}));
        const QStringList hi = highLine.split(' ');
        const QStringList lo = lowLine.split(' ');
        auto five = [](const QString& n) { return n.rightJustified(5, '0'); };
        // Acknowledgements and read replies as the sensor sends them.
        r.port->feed(QStringLiteral(" P %1 %2\r\n").arg(five(hi[1]), five(hi[2])).toLatin1());
        QCOMPARE(r.takeSent(), QStringList{lowLine + "\r\n"});
        r.port->feed(QStringLiteral(" P %1 %2\r\n").arg(five(lo[1]), five(lo[2])).toLatin1());
        QCOMPARE(r.takeSent(), QStringList{"p " + hi[1] + "\r\n"});
        r.port->feed(QStringLiteral(" p %1 %2\r\n").arg(five(hi[1]), five(hi[2])).toLatin1());
        QCOMPARE(r.takeSent(), QStringList{"p " + lo[1] + "\r\n"});
        r.port->feed(QStringLiteral(" p %1 %2\r\n").arg(five(lo[1]), five(lo[2])).toLatin1());
        QCOMPARE(r.settings.text(shownField), shown);
    }

    void singleLineWrites_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("line"); // empty: nothing sent
        QTest::newRow("proportion 0 becomes 1")
            << int(FieldProportion) << "0" << int(ButtonProportion) << "P 16 1";
        QTest::newRow("proportion 300 becomes 255")
            << int(FieldProportion) << "300" << int(ButtonProportion) << "P 16 255";
        QTest::newRow("filter as typed") << int(FieldFilter) << "16" << int(ButtonFilter) << "A 16";
        QTest::newRow("filter not a number")
            << int(FieldFilter) << "abc" << int(ButtonFilter) << "";
        QTest::newRow("filter with a line break")
            << int(FieldFilter) << "16\r\nG" << int(ButtonFilter) << "";
        QTest::newRow("ambient not a number")
            << int(FieldAmbient) << "4S0" << int(ButtonAmbient) << "";
        QTest::newRow("ambient huge number limited")
            << int(FieldAmbient) << "1e300" << int(ButtonAmbient) << "P 10 19";
        QTest::newRow("threshold exponent")
            << int(FieldThreshold) << "2.5e2" << int(ButtonThreshold) << "P 17 0";
    }
    void singleLineWrites() {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(int, button);
        QFETCH(QString, line);
        Rig r;
        r.port->feed(" p 00016 00050\r\n"); // unlocks proportion and threshold
        r.takeSent();
        const QStringList sent = r.write(field, text, button);
        if (line.isEmpty())
            QVERIFY(sent.isEmpty());
        else
            QCOMPARE(sent, (QStringList{"K 0\r\n", line + "\r\n", "K 1\r\n"}));
    }

    void advancedRowsWaitForParameter16() {
        Rig r;
        r.settings.setText(FieldProportion, "20");
        QVERIFY(!r.settings.press(ButtonProportion).acted);
        QVERIFY(!r.settings.fields().advancedRows);
        r.port->feed(" p 00016 00050\r\n");
        QVERIFY(r.settings.fields().advancedRows);
        QVERIFY(r.co2.Co2AdvancedCal);
        QCOMPARE(r.settings.text(FieldProportion), "50");
        // The method row stays disabled whatever the sensor answers.
        QVERIFY(!r.settings.enabled(ButtonMethod));
    }

    void methodReply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("index");
        QTest::newRow("5 selects Spread") << QByteArray(" p 00007 00005\r\n") << 3;
        QTest::newRow("7 selects Threshold") << QByteArray(" p 00007 00007\r\n") << 4;
        QTest::newRow("9 leaves Standard") << QByteArray(" p 00007 00009\r\n") << 1;
    }
    void methodReply() {
        QFETCH(QByteArray, reply);
        QFETCH(int, index);
        Rig r;
        r.port->feed(" p 00007 00001\r\n");
        r.port->feed(reply);
        QCOMPARE(r.settings.fields().methodIndex, index);
        QCOMPARE(r.settings.fields().methodItems.at(3), "Spread");
    }

    // The initial interval travels as the difference to the interval.
    void initialIntervalAgainstTheInterval() {
        Rig r;
        r.port->feed(" p 00005 00054\r\n p 00006 00000\r\n"); // 13824 = 8 days
        QCOMPARE(r.settings.text(FieldIntervalDays), "8");
        r.takeSent();
        QCOMPARE(r.write(FieldInitialDays, "1", ButtonInitialInterval),
                 (QStringList{"K 0\r\n", "P 03 47\r\n", "K 1\r\n"}));
        QCOMPARE(r.settings.text(FieldInitialRaw), "12096");
        r.port->feed(" P 00003 00047\r\n");
        QCOMPARE(r.takeSent(), QStringList{"P 04 64\r\n"});
        r.port->feed(" p 00003 00047\r\n p 00004 00064\r\n");
        QCOMPARE(r.settings.text(FieldInitialDays), "1");
    }

    // A read reply between the high byte's write and its acknowledgement
    // must not change the low byte that follows.
    void readReplyBetweenHighByteAndAckKeepsLowByte() {
        Rig r;
        r.write(FieldAmbient, "450", ButtonAmbient);
        r.port->feed(" p 00012 00003\r\n p 00013 00077\r\n p 00009 00011\r\n");
        r.takeSent();
        r.port->feed(" P 00010 00001\r\n");
        QCOMPARE(r.takeSent(), QStringList{"P 11 194\r\n"});
        // An acknowledgement nobody waits for writes nothing.
        r.port->feed(" P 00010 00001\r\n");
        QVERIFY(r.takeSent().isEmpty());
    }

    void fullReadFillsEveryField_data() {
        QTest::addColumn<bool>("advanced");
        QTest::newRow("sensor with parameter 16") << true;
        QTest::newRow("sensor without parameter 16") << false;
    }
    void fullReadFillsEveryField() {
        QFETCH(bool, advanced);
        sim::Co2SensorOptions options;
        options.advancedCalibration = advanced;
        SimRig r(options);
        r.co2.Co2Enter();
        r.runUntilIdle();
        r.run(1200); // a stream line
        const Co2Fields& f = r.settings.fields();
        QCOMPARE(f.text[FieldFilter], "16");
        QCOMPARE(f.text[FieldAmbient], "400");
        QCOMPARE(f.text[FieldIntervalRaw], "13824");
        QCOMPARE(f.text[FieldIntervalDays], "8");
        QCOMPARE(f.text[FieldInitialRaw], "12096");
        QCOMPARE(f.text[FieldInitialDays], "1");
        QCOMPARE(f.text[FieldCalConcentration], "400");
        QCOMPARE(f.methodIndex, 1);
        QCOMPARE(f.advancedRows, advanced);
        QCOMPARE(f.text[FieldProportion], advanced ? "50" : "---");
        QCOMPARE(f.text[FieldThreshold], advanced ? "300" : "---");
        QVERIFY(r.co2.level > 0);
        QCOMPARE(f.level, QString::number(r.co2.level));
        QVERIFY(r.sensor->streaming());
    }

    // A write and a read sequence at once, their lines mixed on the wire:
    // the sensor ends up with the value typed and the field shows it.
    void writeInterleavedWithReadSequence() {
        SimRig r;
        r.co2.Co2Enter();
        r.runUntilIdle();
        r.settings.setText(FieldAmbient, "450");
        r.settings.press(ButtonAmbient);
        r.settings.press(ButtonReadAll);
        r.runUntilIdle();
        QCOMPARE(r.sensor->param(10), 1);
        QCOMPARE(r.sensor->param(11), 194);
        QCOMPARE(r.settings.text(FieldAmbient), "450");
    }

    void leavingSendsStreamModeAndBang() {
        SimRig r;
        r.co2.Co2Enter();
        r.run(500);
        r.co2.Co2Leave();
        r.run(500);
        QCOMPARE(r.sensor->commands().last(), "K 1");
        QVERIFY(r.sensor->streaming());
        QCOMPARE(r.port->unit().mode(), sim::SimUnit::Mode::Protocol);
    }
};

QTEST_GUILESS_MAIN(TestCo2Settings)
#include "test_co2_settings.moc"
