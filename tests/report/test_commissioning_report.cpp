// The commissioning report against the simulated unit in virtual time: every
// field of the document checked against the unit's own registers and items,
// a lost reply read again, one never answered (or a silent CO2 sensor)
// making a report that says it is incomplete and shows no made-up value, and
// the PDF opening as one.
#include "app/lang_dll.h"
#include "calib/calibration.h"
#include "co2/co2_link.h"
#include "co2/co2_settings.h"
#include "config/comms_settings.h"
#include "diag/identity.h"
#include "link/codec.h"
#include "report/commissioning_report.h"
#include "report/report_pdf.h"
#include "sim/co2_sensor.h"
#include "support/sim_rig.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using namespace gp;

namespace {

// The unit with its CO2 sensor, the report's read and the 100 ms ticks.
struct ReportRig {
    test::SimRig sim;
    sim::Co2Sensor* sensor = nullptr;
    Co2Link co2{sim.link};
    Co2Settings co2Settings{co2};
    LangDll lang;
    std::unique_ptr<CommissioningReportRead> read;

    explicit ReportRig(bool sensorAnswers = true) {
        auto s = std::make_unique<sim::Co2Sensor>();
        sensor = s.get();
        sim.unit().setPassThroughPeer(sensorAnswers ? std::move(s) : nullptr);
        read = std::make_unique<CommissioningReportRead>(sim.link, &co2, &co2Settings);
        sim.alsoTick = [this] {
            if (sim.ticks % 5 == 4) {
                co2.tick();
                read->tick();
            }
        };
    }
    bool run() {
        return sim.runUntil([this] { return read->finished(); }, 60000);
    }
    CommissioningReport build() {
        return buildCommissioningReport(
            sim.link.state, lang, {QDateTime(QDate(2026, 3, 4), QTime(9, 30)), "2.0.21", "sim0"},
            read->co2Read() ? &co2Settings.fields() : nullptr, read->gaps());
    }
};

QString row(const CommissioningReport& r, const QString& section, const QString& name) {
    for (const ReportSection& s : r.sections)
        if (s.title == section)
            for (const ReportRow& row : s.rows)
                if (row.name == name)
                    return row.value;
    return QStringLiteral("<missing %1/%2>").arg(section, name);
}

QString bytesOf(const sim::SimUnit& u, int first, int count) {
    QByteArray b;
    for (int r = first; r < first + count; ++r)
        for (int i = 0; i < 4; ++i)
            b.append(char((uint32_t(u.reg(r)) >> (8 * i)) & 0xFF));
    return QString::fromLatin1(b.left(b.indexOf('\0') < 0 ? b.size() : b.indexOf('\0')));
}

float floatOf(int32_t v) {
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}

} // namespace

class TestCommissioningReport : public QObject {
    Q_OBJECT
  private slots:
    void everyFieldIsTheUnitsOwn() {
        ReportRig rig;
        QVERIFY(rig.run());
        QVERIFY2(rig.read->ok(), qPrintable(rig.read->failure()));
        QVERIFY(rig.read->co2Read());
        QVERIFY(!rig.sim.link.serial.Co2PassThrough); // the line is the unit's again
        const sim::SimUnit& u = rig.sim.unit();
        const CommissioningReport r = rig.build();

        QCOMPARE(row(r, "Report", "Date and time"), QString("2026-03-04T09:30:00"));
        QCOMPARE(row(r, "Report", "Tool version"), QString("2.0.21"));
        QCOMPARE(row(r, "Report", "Port"), QString("sim0"));

        // Identity: the simulated unit's profile as the unit reports it.
        const sim::SimProfile p;
        QCOMPARE(row(r, "Identity", "Unique id"), QString("51525531-0A1B2C3D-00420017-9F3E61C4"));
        const uint32_t serial = uint32_t(u.reg(3));
        QCOMPARE(row(r, "Identity", "Serial number"),
                 QString("%1-%2").arg(QChar(char(serial >> 24))).arg(serial & 0xFFFFFF));
        QCOMPARE(row(r, "Identity", "Date code"),
                 QString("%1/%2/%3")
                     .arg(u.reg(2) & 0xFF, 2, 10, QChar('0'))
                     .arg((u.reg(2) >> 8) & 0xFF, 2, 10, QChar('0'))
                     .arg((u.reg(2) >> 16) & 0xFF, 2, 10, QChar('0')));
        QCOMPARE(row(r, "Identity", "Product type"), bytesOf(u, 0x0D, 3).toUpper());
        QCOMPARE(row(r, "Identity", "Firmware version"),
                 QString::number(p.firmwareVersion / 100.0, 'f', 2));
        QCOMPARE(row(r, "Identity", "Chip"), QString("SAM3N2B (29490761)"));

        // Product configuration: registers 01, 04..0F.
        QCOMPARE(row(r, "Product configuration", "Application id"),
                 QString::number((uint32_t(u.reg(1)) >> 28) & 0xF));
        QCOMPARE(row(r, "Product configuration", "Features"), featureNames(u.reg(1)).join(", "));
        QCOMPARE(row(r, "Product configuration", "Vendor id"),
                 QString::number(int16_t(u.reg(4) & 0xFFFF)));
        QCOMPARE(row(r, "Product configuration", "Vendor"), bytesOf(u, 0x05, 8));
        QCOMPARE(row(r, "Product configuration", "Product"), bytesOf(u, 0x0D, 3));

        // Comms: register 21 byte by byte, register 24.
        const int32_t c = u.reg(0x21);
        QCOMPARE(row(r, "Comms", "Bus address"), QString::number(c & 0xFF));
        QCOMPARE(row(r, "Comms", "Baud rate"), baudCaptions().at((c >> 8) & 0xFF));
        QCOMPARE(row(r, "Comms", "Parity"), parityCaptions(rig.lang).at((c >> 16) & 0xFF));
        QCOMPARE(row(r, "Comms", "Stop bits"), stopBitCaptions(rig.lang).at((c >> 24) & 0xFF));
        QCOMPARE(row(r, "Comms", "Device instance"),
                 u.reg(0x24) == 0 ? QString("0 (automatic)") : QString::number(u.reg(0x24)));

        // Calibration: coefficients 10..17, trims 1A..1E, screen rate item.
        const QLocale cl = QLocale::c();
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(row(r, "Calibration", QString("AO%1_interceptY").arg(i + 1)),
                     singleToText(floatOf(u.reg(0x10 + 2 * i)), cl));
            QCOMPARE(row(r, "Calibration", QString("AO%1_gain").arg(i + 1)),
                     singleToText(floatOf(u.reg(0x11 + 2 * i)), cl));
        }
        QCOMPARE(row(r, "Calibration", "Trim Temperature C"),
                 singleToText(floatOf(u.reg(0x1A)), cl));
        QCOMPARE(row(r, "Calibration", "Trim Temperature A"),
                 singleToText(floatOf(u.reg(0x1E)), cl));
        QCOMPARE(row(r, "Calibration", "Screen rate"), screenRateItems().at(u.screenRate()));
        const int16_t tempSeconds =
            int16_t((uint32_t(u.reg(filterSlots()[0].reg)) >> (8 * filterSlots()[0].byte)) & 0xFF);
        QCOMPARE(row(r, "Calibration", "Filter Temperature"),
                 filterItems().at(FilterSecondsToIndex(tempSeconds)));

        // CO2: the sensor's own parameters.
        QCOMPARE(row(r, "CO2 sensor", "Ambient concentration"),
                 QString("%1 ppm").arg(rig.sensor->param(10) * 256 + rig.sensor->param(11)));
        QVERIFY(!row(r, "CO2 sensor", "Filter").startsWith("<missing"));

        // Every register, with its class for the unit's layout.
        QCOMPARE(r.registers.size(), 256);
        const int layout = int((uint32_t(u.reg(0)) >> 24) & 0xFF);
        for (const ReportRegister& reg : r.registers) {
            QCOMPARE(reg.value, u.reg(reg.number));
            QCOMPARE(reg.cls, RegisterClass(layout, reg.number));
        }

        // The digest: the register lines a save of this unit writes.
        QByteArray text;
        for (const QString& line : cfgLines(rig.sim.link.state, false))
            text += line.toLatin1() + "\r\n";
        QCOMPARE(r.cfgSha256,
                 QString(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()));
        QVERIFY(text.startsWith("#CFG_Format=1\r\n"));

        // The HTML shows every row and register, escaped.
        const QString html = commissioningReportHtml(r);
        for (const ReportSection& s : r.sections) {
            QVERIFY(html.contains("<h2>" + s.title.toHtmlEscaped() + "</h2>"));
            for (const ReportRow& rr : s.rows)
                QVERIFY2(html.contains("<th>" + rr.name.toHtmlEscaped() +
                                       "</th><td class=\"val\">" + rr.value.toHtmlEscaped() +
                                       "</td>"),
                         qPrintable(rr.name));
        }
        QCOMPARE(html.count(QRegularExpression(
                     "<tr><td class=\"num\">0x[0-9A-F]{2} \\([A-Z]* ?[0-9]+\\)</td>")),
                 256);
        QVERIFY(html.contains(r.cfgSha256));
        if (qEnvironmentVariableIsSet("GP_REPORT_SAMPLE"))
            QVERIFY(writeReportFile(qEnvironmentVariable("GP_REPORT_SAMPLE"), html.toUtf8()));
    }

    // A reply lost once is read again, as every command does; one the unit
    // never gives leaves a report all the same, whose first line says it is
    // incomplete and names the frame, with the value it carries shown as not
    // read (never an old or made-up value) and no digest without every
    // register.
    void aLostReplyIsReadAgainOrNamed_data() {
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("never"); // lost in every read again too
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("rowName");
        for (bool never : {false, true}) {
            const char* how = never ? ", never answered" : ", lost once";
            QTest::addRow("identity item%s", how) << ":U00#" << never << "Identity"
                                                  << "Unique id";
            QTest::addRow("register 63%s", how) << ":R63#" << never << ""
                                                << "";
            QTest::addRow("chip identifier%s", how) << ":U05#" << never << "Identity"
                                                    << "Chip";
            QTest::addRow("screen rate%s", how) << ":D0A#" << never << "Calibration"
                                                << "Screen rate";
        }
    }
    void aLostReplyIsReadAgainOrNamed() {
        QFETCH(QString, named);
        QFETCH(bool, never);
        QFETCH(QString, section);
        QFETCH(QString, rowName);
        // The reads in their order: identity, every register, calibration;
        // the reads again come right behind the batch that lost the frame.
        const QList<QStringList> steps{identityFrames(), readAllFrames(), calibrationFrames()};
        int first = 1;
        QList<int> drops;
        for (const QStringList& step : steps) {
            if (const auto i = step.indexOf(named); i >= 0) {
                drops << first + int(i);
                if (never)
                    drops << first + int(step.size()) << first + int(step.size()) + 1;
                break;
            }
            first += int(step.size());
        }
        QVERIFY(!drops.isEmpty());
        ReportRig rig;
        for (int n : drops)
            QVERIFY(rig.sim.port->arm(QStringLiteral("drop@%1").arg(n)));
        QVERIFY(rig.run());
        QVERIFY2(rig.read->ok(), qPrintable(rig.read->failure()));
        QCOMPARE(rig.read->incomplete(), never);
        QVERIFY(!rig.sim.link.serial.Co2PassThrough);
        const CommissioningReport r = rig.build();
        const QString html = commissioningReportHtml(r);
        QCOMPARE(html.contains("<h1>Incomplete"), never);
        QCOMPARE(row(r, "Incomplete", named) == "the unit did not answer", never);
        if (!section.isEmpty())
            QCOMPARE(row(r, section, rowName) == "not read", never);
        const bool registerLost = never && named.startsWith(":R");
        QCOMPARE(r.cfgSha256.isEmpty(), registerLost);
        QCOMPARE(r.registers.at(0x63).read, !registerLost);
    }

    void aSilentCo2SensorMakesAnIncompleteReport() {
        ReportRig rig(false);
        QVERIFY(rig.run());
        QVERIFY(rig.read->ok());
        QVERIFY(rig.read->incomplete());
        QVERIFY(rig.read->gaps().co2Items.contains("Filter"));
        QVERIFY(!rig.sim.link.serial.Co2PassThrough);
        const CommissioningReport r = rig.build();
        QCOMPARE(row(r, "Incomplete", "CO2 Filter"), QString("the sensor did not answer"));
        QCOMPARE(row(r, "CO2 sensor", "Filter"), QString("not read"));
        QVERIFY(!r.cfgSha256.isEmpty()); // every register was read
    }

    void pdfOpensAsAPdf() {
        ReportRig rig;
        QVERIFY(rig.run() && rig.read->ok());
        QTemporaryDir dir;
        const QString path = dir.filePath("report.pdf");
        QCOMPARE(writeReportPdf(path, commissioningReportHtml(rig.build())).error(), QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray pdf = f.readAll();
        QVERIFY(pdf.startsWith("%PDF-"));
        QVERIFY(pdf.trimmed().endsWith("%%EOF"));
        // Page objects ("/Type /Page", not "/Pages"): the register table
        // alone takes more than one.
        const int pages = QString::fromLatin1(pdf).count(QRegularExpression("/Type\\s*/Page[^s]"));
        QVERIFY2(pages >= 1, qPrintable(QString::number(pages)));
    }
};

QTEST_MAIN(TestCommissioningReport)
#include "test_commissioning_report.moc"
