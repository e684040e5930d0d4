// The logo bank: reading it, writing it back, and logo definition files.
#include "link/codec.h"
#include "support/sim_rig.h"
#include "unit/logo_transfer.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace gp;
using gp::test::SimRig;

namespace {
QString logoLine(int block, int32_t value) {
    return QString(":L%1%2#").arg(HexByte(block), HexLong(value));
}
} // namespace

class TestLogoTransfer : public QObject {
    Q_OBJECT
  private slots:
    void definitionFileLines_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("refused");
        QStringList l130;
        for (int i = 0; i < 130; ++i)
            l130 << logoLine(i & 0x7F, i);
        QTest::newRow("130 lines: the first 128") << l130 << 128 << false;
        QStringList gap = l130.mid(0, 10);
        gap[4] = "";
        QTest::newRow("empty fifth line ends it after four") << gap << 4 << false;
        QStringList lead = l130.mid(0, 3);
        lead.prepend("");
        QTest::newRow("empty first line is skipped") << lead << 3 << false;
        QTest::newRow("empty file") << QStringList{} << 0 << false;
        QStringList foreign = l130.mid(0, 3);
        foreign[1] = ":SAMBA#";
        QTest::newRow("a system action is refused") << foreign << 0 << true;
        QStringList junk = l130.mid(0, 3);
        junk[2] = ":L01XYZ#";
        QTest::newRow("a broken frame is refused") << junk << 0 << true;
        QTest::newRow("lower-case hex is sent upper-case")
            << QStringList{":L05aabbccdd#"} << 1 << false;
    }
    void definitionFileLines() {
        QFETCH(QStringList, lines);
        QFETCH(int, sent);
        QFETCH(bool, refused);
        const LogoFile f = logoFramesFromLines(lines);
        QCOMPARE(!f.ok(), refused);
        QCOMPARE(f.frames.size(), sent);
        for (const QString& fr : f.frames)
            QVERIFY2(IsCommandFrame(fr) && fr == fr.toUpper(), qPrintable(fr));
    }

    void loadLogoFileSendsItsFramesToTheUnit() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.lgo");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(":L0011223344#\r:L01AABBCCDD#\r\n\r\n:L0255555555#\r\n");
        f.close();
        SimRig rig;
        const LogoFile lf = readLogoFile(path);
        QVERIFY(lf.ok());
        QVERIFY(sendLogoFrames(rig.link, lf.frames));
        QCOMPARE(rig.runBatch(), -1);
        QCOMPARE(rig.unit().frameHistory(), (QStringList{":L0011223344#", ":L01AABBCCDD#"}));
        QCOMPARE(rig.unit().logo(1), int32_t(0xDDCCBBAA));
    }

    void writeLogoAfterReadLogoSendsBackWhatWasRead() {
        SimRig rig;
        for (int b = 0; b < 128; ++b)
            rig.unit().setLogo(b, b * 0x01010101 + 7);
        rig.link.state.LRegCache[200] = 99;
        ReadLogo(rig.link);
        QCOMPARE(rig.runBatch(), -1);
        for (int b = 0; b < 128; ++b)
            QCOMPARE(rig.link.state.LRegCache[b], rig.unit().logo(b));
        QCOMPARE(rig.link.state.LRegCache[200], 99);
        // Another unit's logo goes onto this one and back again unchanged.
        for (int b = 0; b < 128; ++b)
            rig.unit().setLogo(b, 0);
        const auto before = rig.unit().frameHistory().size();
        WriteLogo(rig.link);
        rig.runBatch();
        const QStringList sent = rig.unit().frameHistory().mid(before);
        QCOMPARE(sent.size(), 128);
        for (int b = 0; b < 128; ++b) {
            QCOMPARE(sent[b], logoLine(b, b * 0x01010101 + 7));
            QCOMPARE(rig.unit().logo(b), b * 0x01010101 + 7);
        }
    }

    void logoFileRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.lgo");
        DeviceState s;
        for (int b = 0; b < 128; ++b)
            s.LRegCache[b] = -b;
        QVERIFY(writeLogoFile(path, s).ok());
        const LogoFile f = readLogoFile(path);
        QVERIFY(f.ok());
        QCOMPARE(f.frames, logoFileLines(s));
    }
};

QTEST_GUILESS_MAIN(TestLogoTransfer)
#include "test_logo_transfer.moc"
