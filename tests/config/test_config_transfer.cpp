// Register bank transfer, product configuration and ".cfg" files against the
// simulated unit in virtual time.
#include "config/config_load.h"
#include "config/product_config.h"
#include "config/save_config.h"
#include "diag/identity.h"
#include "link/codec.h"
#include "support/scripted_prompts.h"
#include "support/sim_rig.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace gp;
using gp::test::ScriptedPrompts;
using gp::test::SimRig;

namespace {

void identity(SimRig& rig) {
    IdentityRead(rig.link);
    rig.runBatch();
}

// Gives unit A user settings that differ from the factory values a second
// unit of the same product holds.
void customise(sim::SimUnit& unit) {
    for (int r = 0x22; r < 256; r += 7)
        unit.setReg(r, 0x1000 + r * 3);
}

QString saveFrom(SimRig& rig, const QString& path, bool all, ScriptedPrompts& prompts) {
    prompts.files << path;
    SaveConfig save(rig.link, prompts, all);
    rig.alsoTick = [&] { save.tick(); };
    rig.runUntil([&] { return save.finished(); });
    rig.alsoTick = nullptr;
    return save.savedPath();
}

QStringList fileLines(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return splitTextLines(f.readAll());
}

void writeLines(const QString& path, const QStringList& lines) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write((lines.join("\r\n") + "\r\n").toLatin1());
}

} // namespace

class TestConfigTransfer : public QObject {
    Q_OBJECT
  private slots:
    void deviceSettingsBatchByLayout_data() {
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("writes");
        QTest::addColumn<QList<int>>("skipped"); // registers >= 34 not sent
        QTest::newRow("layout 0 keeps 23 and 39 hex") << 0 << 220 << QList<int>{35, 57};
        QTest::newRow("layout 1 keeps 23 and 25 hex") << 1 << 220 << QList<int>{35, 37};
        QTest::newRow("layout 3 keeps 23, 3C and 3D hex") << 3 << 219 << QList<int>{35, 60, 61};
        QTest::newRow("layout 7 is unknown: nothing but :SU#") << 7 << 0 << QList<int>{};
    }
    void deviceSettingsBatchByLayout() {
        QFETCH(int, layout);
        QFETCH(int, writes);
        QFETCH(QList<int>, skipped);
        DeviceState s;
        for (int r = 0; r < 256; ++r)
            s.setRegister(r, r == 0 ? layout << 24 : r, ValueSource::Unit);
        const QStringList frames = deviceSettingsFrames(s);
        QCOMPARE(frames.size(), writes + 1);
        QCOMPARE(frames.last(), QString(":SU#"));
        for (const QString& f : frames)
            QVERIFY2(f == ":SU#" || f.mid(2, 2).toInt(nullptr, 16) >= 34, qPrintable(f));
        for (int r : skipped)
            QVERIFY(!deviceSettingsRegisters(s).contains(r));
        if (writes) {
            QCOMPARE(frames.first(), QString(":W2222000000#"));
            QCOMPARE(frames[frames.size() - 2], QString(":WFFFF000000#"));
        }
    }

    void readAllEndsWithU05AndWriteAllSkipsRegister0() {
        SimRig rig;
        ReadAllRegisters(rig.link);
        QCOMPARE(rig.link.poll.CmdQueueLen, 257);
        QCOMPARE(rig.link.poll.CmdQueue[256], QString(":U05#"));
        QCOMPARE(rig.runBatch(), -1);
        for (int r = 0; r < 256; ++r)
            QCOMPARE(rig.link.state.RegCache[r], rig.unit().reg(r));
        const auto before = rig.unit().frameHistory().size();
        WriteAllRegisters(rig.link);
        QCOMPARE(rig.link.poll.CmdQueuePos, 1);
        rig.runBatch();
        const QStringList sent = rig.unit().frameHistory().mid(before);
        QCOMPARE(sent.size(), 255);
        QCOMPARE(sent.first().left(4), QString(":W01"));
        QVERIFY(!sent.join(' ').contains(":W00"));
    }

    void productConfigFrames_data() {
        QTest::addColumn<ProductConfig>("config");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("frame");
        ProductConfig none;
        none.appId = 0;
        QTest::newRow("all clear, application 0") << none << 0 << ":W0100000000#";
        ProductConfig modbus;
        modbus.appId = 3;
        modbus.features = 1u << 1;
        QTest::newRow("application 3, MODBUS only") << modbus << 0 << ":W0102000030#";
        ProductConfig noApp;
        noApp.features = (1u << 27) | 1u;
        QTest::newRow("no application selected keeps bits 28..31 clear")
            << noApp << 0 << ":W0101000008#";
        for (const char* text : {"32657", "100000", "0", "abc", "-5"}) {
            ProductConfig v;
            v.vendorIdText = text;
            QTest::addRow("vendor id %s is written as 0", text) << v << 1 << ":W0400000000#";
        }
        ProductConfig v300;
        v300.vendorIdText = "300";
        QTest::newRow("vendor id 300") << v300 << 1 << ":W042C010000#";
        ProductConfig vRound;
        vRound.vendorIdText = "299.6";
        QTest::newRow("vendor id rounds to nearest") << vRound << 1 << ":W042C010000#";
        ProductConfig names;
        names.vendorName = "Abcd";
        names.productName = "ABCDEFGHIJKLMN";
        QTest::newRow("vendor name in text order") << names << 2 << ":W0541626364#";
        QTest::newRow("vendor name padded with zeros") << names << 3 << ":W0600000000#";
        QTest::newRow("long product name: 11 characters") << names << 12 << ":W0F494A4B00#";
        QTest::newRow("empty vendor name") << none << 9 << ":W0C00000000#";
        QTest::newRow("burn") << none << 13 << ":SP#";
        QTest::newRow("then defaults") << none << 14 << ":SD#";
        QTest::newRow("then reset, last") << none << 15 << ":SR#";
    }
    void productConfigFrames() {
        QFETCH(ProductConfig, config);
        QFETCH(int, entry);
        QFETCH(QString, frame);
        const QStringList frames = gp::productConfigFrames(config);
        QCOMPARE(frames.size(), 16);
        QCOMPARE(frames[entry], frame);
    }

    void productConfigShownFromRegisters() {
        ProductConfig c;
        c.appId = 2;
        c.features = (1u << 3) | (1u << 20);
        c.vendorIdText = "1077";
        c.vendorName = "Quorvel Controls";
        c.productName = "QRU-420";
        DeviceState s;
        for (const QString& f : gp::productConfigFrames(c).mid(0, 13))
            DispatchReply(s, "!" + f.mid(1));
        const ProductConfig shown = productConfigFromRegisters(s.RegRecord);
        QCOMPARE(shown.appId, 2);
        QCOMPARE(shown.features, c.features);
        QCOMPARE(shown.vendorIdText, QString("1077"));
        QCOMPARE(shown.vendorName, c.vendorName);
        QCOMPARE(shown.productName, c.productName);
    }

    void saveOneUnitLoadAnother() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig a;
        customise(a.unit());
        identity(a);
        ScriptedPrompts pa;
        QCOMPARE(saveFrom(a, path, false, pa), path);
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.first(), QString("#CFG_Format=1"));
        QCOMPARE(lines[1 + 40], QString("N 40 ") + HexLong(a.unit().reg(40)));
        QVERIFY(lines[257].startsWith("S 0 "));
        QVERIFY(lines.size() > 258 && lines.mid(258).join('\n').contains("QRU-420"));
        for (const QString& l : lines.mid(258))
            QVERIFY(l.startsWith('#'));

        SimRig b;
        identity(b);
        ConfigLoad load(b.link);
        QVERIFY(load.start(path).ok());
        b.runBatch();
        QVERIFY(load.finished());
        const LoadReport rep = load.report();
        QCOMPARE(rep.writes, 220);
        QCOMPARE(rep.confirmed, 220);
        QVERIFY(rep.unconfirmed.isEmpty());
        QVERIFY(rep.settingsStored);
        for (int r = 0; r < 256; ++r) {
            if (RegisterClass(0, r) == "N")
                QCOMPARE(b.unit().reg(r), a.unit().reg(r));
        }
    }

    void fileClassesAndSaveAllNonvol_data() {
        QTest::addColumn<bool>("all");
        QTest::newRow("classes of layout 0") << false;
        QTest::newRow("SaveAllNonvol: every line N") << true;
    }
    void fileClassesAndSaveAllNonvol() {
        QFETCH(bool, all);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        saveFrom(rig, path, all, p);
        const QStringList lines = fileLines(path);
        for (int r = 0; r < 256; ++r) {
            const bool readOnly = r < 34 || r == 35 || r == 57;
            QCOMPARE(lines[1 + r].left(2), QString(all || !readOnly ? "N " : "R "));
        }
        // Loading: an N line fills the cache, the write still sends only the
        // unit's own N registers.
        DeviceState& s = rig.link.state;
        s.RegCache[0x10] = 0x7777;
        const auto before = rig.unit().framesReceived();
        ConfigLoad load(rig.link);
        QVERIFY(load.start(path).ok());
        rig.runBatch();
        QCOMPARE(s.RegCache[0x10], all ? rig.unit().reg(0x10) : 0x7777);
        // Registers 00 and 01 read for the product check, 220 writes, ":SU#".
        QCOMPARE(rig.unit().framesReceived() - before, quint64(2 + 221));
    }

    // Every file the tool saves loads back into the unit it came from,
    // whatever the unit's layout or the bytes of its texts; its comment
    // lines hold printable text only.
    void savedFileLoadsBackIntoTheSameUnit_data() {
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("all");
        QTest::addColumn<QByteArray>("productName");
        QTest::newRow("layout 0") << 0 << false << QByteArray("QRU-420");
        QTest::newRow("layout 7, registers of no class") << 7 << false << QByteArray("QRU-420");
        QTest::newRow("layout 7, SaveAllNonvol") << 7 << true << QByteArray("QRU-420");
        QTest::newRow("layout 255") << 255 << false << QByteArray("QRU-420");
        QTest::newRow("product name with a line break") << 0 << false << QByteArray("QRU\r\n42");
        QTest::newRow("product name with an escape") << 0 << false << QByteArray("\x1b]0;x\x07");
    }
    void savedFileLoadsBackIntoTheSameUnit() {
        QFETCH(int, layout);
        QFETCH(bool, all);
        QFETCH(QByteArray, productName);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        sim::SimProfile profile;
        profile.layoutCode = layout;
        profile.productName = productName;
        SimRig rig(profile);
        identity(rig);
        ScriptedPrompts p;
        QCOMPARE(saveFrom(rig, path, all, p), path);
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 258 + 5);
        for (const QString& l : lines.mid(258)) {
            QVERIFY2(l.startsWith("# "), qPrintable(l));
            for (QChar c : l)
                QVERIFY2(c.isPrint(), qPrintable(l));
        }
        ConfigLoad load(rig.link);
        const CfgCheck check = load.start(path);
        QVERIFY2(check.ok(), qPrintable(check.message));
        rig.runBatch();
        QVERIFY(load.finished());
    }

    void refusedFileLeavesCacheAndSendsNothing_data() {
        QTest::addColumn<QString>("edit"); // how line "N 40 ..." or the file is spoiled
        QTest::addColumn<int>("status");
        QTest::newRow("one feature bit differs") << "feature" << int(CfgCheck::WrongProduct);
        QTest::newRow("layout code differs") << "layout" << int(CfgCheck::WrongProduct);
        QTest::newRow("non-hex value") << "nonhex" << int(CfgCheck::Malformed);
        QTest::newRow("short value") << "short" << int(CfgCheck::Malformed);
        QTest::newRow("no product lines") << "noproduct" << int(CfgCheck::NoProduct);
        QTest::newRow("missing file") << "missing" << int(CfgCheck::Unreadable);
    }
    void refusedFileLeavesCacheAndSendsNothing() {
        QFETCH(QString, edit);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        saveFrom(rig, path, true, p);
        QStringList lines = fileLines(path);
        // Put the spoilt line last so earlier lines would have been taken.
        for (int r = 0x22; r < 256; ++r)
            lines[1 + r] = QString("N %1 %2").arg(r).arg(HexLong(0x5A5A));
        const int32_t r1 = rig.link.state.RegCache[1];
        if (edit == "feature")
            lines[2] = "N 1 " + HexLong(r1 ^ (1 << 4));
        else if (edit == "layout")
            lines[1] = "N 0 " + HexLong(rig.link.state.RegCache[0] ^ (1 << 24));
        else if (edit == "nonhex")
            lines[1 + 0x80] = "N 128 0A00000G";
        else if (edit == "short")
            lines[1 + 0x80] = "N 128 0A00";
        else if (edit == "noproduct")
            lines = lines.mid(3);
        if (edit == "feature" || edit == "layout")
            lines.move(edit == "feature" ? 2 : 1, 257);
        writeLines(path, lines);
        const auto cache = rig.link.state.RegCache;
        const auto statusFlags = rig.link.state.StatusFlags;
        const auto before = rig.unit().framesReceived();
        ConfigLoad load(rig.link);
        load.start(edit == "missing" ? dir.filePath("none.cfg") : path);
        rig.runTicks(20);
        QVERIFY(load.finished());
        QCOMPARE(int(load.check().status), status);
        QVERIFY(!load.check().message.isEmpty());
        QVERIFY(rig.link.state.RegCache == cache);
        QCOMPARE(rig.link.state.StatusFlags, statusFlags);
        // Only the product check reads the unit: registers 00 and 01.
        const bool productChecked = status == CfgCheck::WrongProduct;
        QCOMPARE(rig.unit().framesReceived() - before, quint64(productChecked ? 2 : 0));
    }

    // Lines of no known form are skipped, and the load names them by line;
    // a register given twice is named too (the last line counts).
    void linesOfNoKnownFormAreSkipped_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("skipped"); // named as skipped (line 4)
        QTest::newRow("two spaces") << "N  200 11111111" << true;
        QTest::newRow("two fields") << "N 200" << true;
        QTest::newRow("a tab") << "N\t200 11111111" << true;
        QTest::newRow("unknown class") << "Q 200 11111111" << true;
        QTest::newRow("read-only class") << "R 200 11111111" << false;
        QTest::newRow("comment") << "#N 200 11111111" << false;
    }
    void linesOfNoKnownFormAreSkipped() {
        QFETCH(QString, line);
        QFETCH(bool, skipped);
        DeviceState s;
        s.setRegister(0, 0x01000000, ValueSource::Unit);
        s.setRegister(1, 0, ValueSource::Unit);
        s.RegCache[200] = 42;
        const CfgCheck c = checkCfgLines({"#CFG_Format=1", "R 0 00000001", "R 1 00000000", line,
                                          "N 201 2B000000", "N 201 2A000000", "S 0 0F000000"},
                                         s);
        QVERIFY(c.ok());
        QVERIFY(!c.content.registers[200].has_value());
        QCOMPARE(*c.content.registers[201], 42);
        QCOMPARE(*c.content.statusFlags, 15);
        QCOMPARE(c.skippedLines, skipped ? QList<int>{4} : QList<int>{});
        QCOMPARE(c.duplicateLines, QList<int>{6});
        QCOMPARE(c.registersGiven, 1);
        QVERIFY2(c.notes().contains("gives 1 register"), qPrintable(c.notes()));
        QCOMPARE(c.notes().contains("skipped"), skipped);
    }

    // A register number is a plain decimal 0..255, as the tool writes it:
    // any other form would send the value to some register, so the file is
    // refused with its line, as for a bad value.
    void registerNumberOfAnotherFormRefusesTheFile_data() {
        QTest::addColumn<QString>("number");
        QTest::newRow("register above 255") << "256";
        QTest::newRow("negative register") << "-1";
        QTest::newRow("register not a number") << "x";
        QTest::newRow("exponent") << "8e1";
        QTest::newRow("fraction") << "40.4";
        QTest::newRow("plus sign") << "+50";
        QTest::newRow("leading zeros") << "0081";
        QTest::newRow("hex") << "0x50";
    }
    void registerNumberOfAnotherFormRefusesTheFile() {
        QFETCH(QString, number);
        DeviceState s;
        s.setRegister(0, 0x01000000, ValueSource::Unit);
        s.setRegister(1, 0, ValueSource::Unit);
        const CfgCheck c = checkCfgLines({"#CFG_Format=1", "R 0 00000001", "R 1 00000000",
                                          "N " + number + " 0A000000", "N 201 2A000000"},
                                         s);
        QCOMPARE(int(c.status), int(CfgCheck::Malformed));
        QVERIFY2(c.message.startsWith("Line 4 "), qPrintable(c.message));
        QVERIFY(!c.content.registers[201].has_value());
    }

    // A register whose reply was lost is read again on its own, twice at
    // most (the frames behind the 257 of the whole bank); only then is the
    // engineer asked whether to read all registers again.
    void saveWithLostRepliesNamesTheRegisters_data() {
        QTest::addColumn<QList<int>>("dropped"); // frames from the read's start, less one
        QTest::addColumn<bool>("retry");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QList<int>>("unread");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("messages");
        QTest::newRow("two registers never answered, cancel")
            << QList<int>{0x28, 0x90, 257, 258, 259, 260} << false << false
            << QList<int>{0x28, 0x90} << 1 << 0;
        QTest::newRow("one register lost once: read again on its own")
            << QList<int>{0x28} << false << true << QList<int>{} << 0 << 0;
        QTest::newRow("one register never answered, read all again")
            << QList<int>{0x28, 257, 258} << true << true << QList<int>{} << 1 << 0;
        QTest::newRow("only U05 lost: still complete")
            << QList<int>{256} << false << true << QList<int>{} << 0 << 1;
        // Frame 258 is the status read after the bank.
        QTest::newRow("status reply lost once: read again")
            << QList<int>{257} << false << true << QList<int>{} << 0 << 0;
        QTest::newRow("status never answered: nothing saved, said")
            << QList<int>{257, 258, 259} << false << false << QList<int>{} << 0 << 1;
    }
    void saveWithLostRepliesNamesTheRegisters() {
        QFETCH(QList<int>, dropped);
        QFETCH(bool, retry);
        QFETCH(bool, saved);
        QFETCH(QList<int>, unread);
        QFETCH(int, asked);
        QFETCH(int, messages);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        p.files << path;
        p.answers << retry;
        SaveConfig save(rig.link, p, false);
        save.tick(); // idle link: start reading next
        QCOMPARE(save.SaveState, 1);
        for (int e : dropped)
            rig.port->dropReplyToFrame(e + 1);
        rig.alsoTick = [&] { save.tick(); };
        QVERIFY(rig.runUntil([&] { return save.finished(); }));
        QCOMPARE(save.saved(), saved);
        QCOMPARE(QFile::exists(path), saved);
        QCOMPARE(save.unreadRegisters(), unread);
        QCOMPARE(p.asked.size(), asked);
        if (asked > 0)
            QVERIFY(p.asked.first().contains("28"));
        QCOMPARE(p.messages.size(), messages);
    }

    // A register the unit never answers: however often the engineer (or
    // --yes) says "read again", the save gives up after a few reads and says
    // which register it could not read.
    void saveGivesUpOnARegisterNeverAnswered() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        p.files << path;
        for (int i = 0; i < 10; ++i)
            p.answers << true;
        SaveConfig save(rig.link, p, false);
        save.tick();
        QCOMPARE(save.SaveState, 1);
        // Each round: 256 registers and identity item 05, then register 28
        // read again on its own, twice.
        constexpr int kRound = 257 + SaveConfig::kRegisterRetries;
        for (int read = 0; read < 10; ++read)
            for (int n : {0x28 + 1, 258, 259})
                rig.port->dropReplyToFrame(read * kRound + n);
        rig.alsoTick = [&] { save.tick(); };
        QVERIFY(rig.runUntil([&] { return save.finished(); }, 200000));
        QVERIFY(!save.saved());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(save.unreadRegisters(), QList<int>{0x28});
        QCOMPARE(p.asked.size(), SaveConfig::kMaxReads - 1);
        QVERIFY2(save.failure().contains("28"), qPrintable(save.failure()));
        QCOMPARE(p.messages.size(), 1);
    }

    // The name is asked after the read: one that cannot take the file costs
    // a warning and another name, not the read.
    void unwritableNameAsksAgainAndKeepsTheRead_data() {
        QTest::addColumn<QString>("second"); // empty: the engineer cancels
        QTest::newRow("another name is given") << "b.cfg";
        QTest::newRow("the engineer gives up") << QString();
    }
    void unwritableNameAsksAgainAndKeepsTheRead() {
        QFETCH(QString, second);
        QTemporaryDir dir;
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        p.files << dir.filePath("no-such-folder/a.cfg");
        if (!second.isEmpty())
            p.files << dir.filePath(second);
        const auto before = rig.unit().framesReceived();
        SaveConfig save(rig.link, p, false);
        rig.alsoTick = [&] { save.tick(); };
        QVERIFY(rig.runUntil([&] { return save.finished(); }));
        // One read only: the 256 registers, identity item 05 and the status.
        QCOMPARE(rig.unit().framesReceived() - before, quint64(258));
        QCOMPARE(p.filters.size(), 2);
        QCOMPARE(p.messages.size(), 1);
        QVERIFY2(p.messages.first().contains("does not exist"), qPrintable(p.messages.first()));
        QCOMPARE(save.saved(), !second.isEmpty());
        if (second.isEmpty()) {
            QVERIFY(save.failure().contains("Cannot write"));
        } else {
            QCOMPARE(save.savedPath(), dir.filePath(second));
            QCOMPARE(fileLines(dir.filePath(second)).size(), 258 + 5);
        }
    }

    void closingTheSaveWindowWhileReadingStopsTheRead() {
        SimRig rig;
        ScriptedPrompts p;
        SaveConfig save(rig.link, p, false);
        rig.port->setSilent(true); // the unit has gone away
        save.tick();
        save.tick();
        rig.runTicks(30);
        QVERIFY(rig.link.busy());
        save.cancel();
        QVERIFY(save.finished());
        QVERIFY(!rig.link.busy());
        QVERIFY(p.filters.isEmpty());
    }

    // A file that names only some registers changes only those; the others
    // keep what the unit holds, however little of the cache was read.
    void loadWritesExactlyTheRegistersTheFileGives_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<int>>("written");
        QTest::newRow("only R 0, R 1 and N 40") << "partial" << QList<int>{0x28};
        QList<int> head;
        for (int r = 34; r < 0x90; ++r)
            if (r != 35 && r != 57)
                head << r;
        QTest::newRow("cut in the middle of the line of register 90") << "cut-value" << head;
        QTest::newRow("cut in the middle of its register number") << "cut-number" << head;
    }
    void loadWritesExactlyTheRegistersTheFileGives() {
        QFETCH(QString, file);
        QFETCH(QList<int>, written);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        QStringList lines;
        if (file == "partial") {
            lines = QStringList{"#CFG_Format=1", "R 0 " + HexLong(rig.unit().reg(0)),
                                "R 1 " + HexLong(rig.unit().reg(1)), "N 40 0B000000"};
        } else {
            ScriptedPrompts p;
            saveFrom(rig, path, false, p);
            // Every line a value the unit does not hold, so a write shows.
            lines = fileLines(path).mid(0, 1 + 0x90);
            for (int r = 2; r < 0x90; ++r)
                lines[1 + r] = QString("%1 %2 %3")
                                   .arg(lines[1 + r].left(1))
                                   .arg(r)
                                   .arg(HexLong(0x0B000000 + r));
            lines << (file == "cut-value" ? "N 144 0B00" : "N 1");
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join("\r\n").toLatin1()); // no line end after the last
        f.close();
        customise(rig.unit());
        std::array<int32_t, 256> before{};
        for (int r = 0; r < 256; ++r)
            before[r] = rig.unit().reg(r);

        ConfigLoad load(rig.link);
        QVERIFY(load.start(path).ok());
        rig.runBatch();
        QVERIFY(load.finished());
        QVERIFY(load.check().ok());
        const LoadReport rep = load.report();
        QCOMPARE(rep.writes, int(written.size()));
        QCOMPARE(rep.confirmed, int(written.size()));
        QVERIFY(rep.settingsStored);
        for (int r = 0; r < 256; ++r) {
            const int32_t want =
                written.contains(r) ? (file == "partial" ? 0x0B : 0x0B000000 + r) : before[r];
            QVERIFY2(rig.unit().reg(r) == want, qPrintable(HexByte(r)));
        }
    }

    // Fields not given go back as the unit holds them, even where the
    // controls could not show them: a vendor id above 32656, bytes behind
    // the end of a name.
    void productWriteKeepsFieldsNotGiven() {
        sim::SimProfile profile;
        profile.vendorId = 40000;
        SimRig rig(profile);
        rig.unit().setReg(0x0B, rig.unit().reg(0x0B) | 0x55000000);
        QStringList reads;
        for (int r : productConfigRegisters())
            reads << BuildRead(r);
        rig.link.startBatch(reads);
        QCOMPARE(rig.runBatch(), -1);
        ProductConfig c = productConfigFromRegisters(rig.link.state.RegRecord);
        c.productName = "QRU-430";
        ProductFieldsGiven given;
        given.productName = true;
        const QStringList frames = productConfigFramesKeeping(c, rig.link.state, given);
        QCOMPARE(frames.size(), 16);
        QCOMPARE(frames[0], BuildWrite(rig.link.state, 0x01));
        QCOMPARE(frames[1], QString(":W04409C0000#"));
        for (int r = 0x05; r <= 0x0C; ++r)
            QCOMPARE(frames[r - 3], BuildWrite(rig.link.state, r));
        QCOMPARE(frames[10], QString(":W0D5152552D#")); // "QRU-"
        QCOMPARE(frames[11], QString(":W0E34333000#")); // "430"
    }

    // A register write sets a value: one whose reply is lost (or late) is
    // sent again, at most twice; ":SU#" never is. The frames counted from the
    // load's start: the reads of 00 and 01, then the 220 writes (the third is
    // 25 hex), then the writes sent again, then ":SU#".
    void lostWriteRepliesAreSentAgainAtMostTwice_data() {
        QTest::addColumn<QList<int>>("dropped"); // replies dropped, by frame number
        QTest::addColumn<int>("confirmed");
        QTest::addColumn<int>("resent");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("framesSent");
        QTest::newRow("one lost reply: sent again, confirmed")
            << QList<int>{5} << 220 << 1 << true << 2 + 220 + 1 + 1;
        QTest::newRow("lost again once: confirmed at the third try")
            << QList<int>{5, 223} << 220 << 2 << true << 2 + 220 + 2 + 1;
        QTest::newRow("never answered: named after two more tries")
            << QList<int>{5, 223, 224} << 219 << 2 << true << 2 + 220 + 2 + 1;
        QTest::newRow(":SU# lost: not sent again")
            << QList<int>{223} << 220 << 0 << false << 2 + 220 + 1;
    }
    void lostWriteRepliesAreSentAgainAtMostTwice() {
        QFETCH(QList<int>, dropped);
        QFETCH(int, confirmed);
        QFETCH(int, resent);
        QFETCH(bool, stored);
        QFETCH(int, framesSent);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        saveFrom(rig, path, false, p);
        const auto before = rig.unit().framesReceived();
        ConfigLoad load(rig.link);
        QVERIFY(load.start(path).ok());
        for (int n : dropped)
            rig.port->dropReplyToFrame(n);
        QVERIFY(rig.runUntil([&] { return load.finished(); }));
        const LoadReport rep = load.report();
        QCOMPARE(rep.confirmed, confirmed);
        QCOMPARE(rep.resent, resent);
        QCOMPARE(rep.settingsStored, stored);
        QCOMPARE(rep.unconfirmed.isEmpty(), confirmed == 220);
        if (confirmed < 220) {
            QCOMPARE(rep.unconfirmed, QList<int>{0x25});
            QVERIFY(rep.text().contains("25"));
        }
        if (resent > 0)
            QVERIFY2(rep.text().contains("sent again"), qPrintable(rep.text()));
        QCOMPARE(rig.unit().framesReceived() - before, quint64(framesSent));
        QCOMPARE(rep.ok(), confirmed == 220 && stored);
        // A failure names every frame whose answer it lacks.
        QCOMPARE(rep.lostFrames.contains(":SU#"), !stored);
        QCOMPARE(rep.lostFrames.filter(":W25").size(), confirmed == 220 ? 0 : 1);
    }

    // With verify, every register written is read back: a unit that keeps
    // another value than it echoed fails the load, naming the register.
    void verifyReadsBackEveryRegisterWritten_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("the unit holds what it echoed") << "";
        QTest::newRow("register 40 changed behind the echo") << "changed";
        QTest::newRow("the read-back of 40 lost once: read again") << "lost once";
        QTest::newRow("the read-back of 40 never answered") << "lost";
    }
    void verifyReadsBackEveryRegisterWritten() {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const QString path = dir.filePath("a.cfg");
        SimRig rig;
        identity(rig);
        ScriptedPrompts p;
        saveFrom(rig, path, false, p);
        ConfigLoad load(rig.link);
        QVERIFY(load.start(path, true).ok());
        // Stop when the read-back starts, spoil it, go on.
        bool spoilt = false;
        QVERIFY(rig.runUntil([&] {
            if (!spoilt && rig.unit().frameHistory().contains(":SU#")) {
                spoilt = true;
                if (fault == "changed")
                    rig.unit().setReg(0x40, rig.unit().reg(0x40) ^ 0x100);
                else if (fault.startsWith("lost")) // the 29th read: 22, 24..38, 3A..40
                    rig.port->dropReplyToFrame(29);
                if (fault == "lost") { // and both reads again, behind the 220 reads
                    rig.port->dropReplyToFrame(221);
                    rig.port->dropReplyToFrame(222);
                }
            }
            return load.finished();
        }));
        const LoadReport rep = load.report();
        QVERIFY(rep.verified);
        QCOMPARE(rep.differing, fault == "changed" ? QList<int>{0x40} : QList<int>{});
        QCOMPARE(rep.notReadBack.isEmpty(), fault != "lost");
        const bool fine = fault.isEmpty() || fault == "lost once";
        QCOMPARE(rep.ok(), fine);
        QVERIFY2(rep.text().contains(fine ? "holds its value" : "40"), qPrintable(rep.text()));
    }
};

QTEST_GUILESS_MAIN(TestConfigTransfer)
#include "test_config_transfer.moc"
