#pragma once
// The ".cfg" file of a unit's register bank: "#CFG_Format=1", one line per
// register ("N 40 0A000000": class, register in decimal, HexLong value), the
// status line "S 0 ...", then comment lines saying where the file came from.
// Loading checks the whole file before anything reaches the cache.

#include "link/device_state.h"
#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace gp {

// The 258 lines of the format. Every register is "N" with saveAllNonvol,
// otherwise its RegisterClass for the cached layout code; registers 00 and
// 01, which the product check of a load needs, are "R" where the layout
// gives no class.
QStringList cfgLines(const DeviceState& state, bool saveAllNonvol);
// A register as every message names it: its number in hex as the unit
// names it, with its .cfg line's class and decimal number beside it:
// "0x25 (N 37)". Values beside it are printed in the file's form (HexLong).
QString cfgRegisterLabel(int reg, const QString& cls = QStringLiteral("N"));
// The trailing comment lines: unique id, product type, firmware version, the
// time of the save and the tool's version.
QStringList cfgCommentLines(const DeviceState& state, const QDateTime& when);
// Writes the lines with CR LF, replacing the file atomically; fails with
// why the file could not be written.
Status writeCfgFile(const QString& path, const QStringList& lines);

// What a checked file would put into the cache.
struct CfgContent {
    std::array<std::optional<int32_t>, 256> registers; // class "N" lines
    std::array<std::optional<int32_t>, 2> product;     // lines of registers 00, 01
    std::optional<int32_t> statusFlags;                // the last "S" line
};

struct CfgCheck {
    // NoAnswer: the unit did not answer the read of its product registers.
    enum Status { Ok, Unreadable, Malformed, WrongProduct, NoProduct, NoAnswer };
    Status status = Ok;
    QString message; // for the engineer; empty when Ok
    CfgContent content;
    int ignoredLines = 0;      // lines of no known form, skipped as the format says
    QList<int> skippedLines;   // their numbers (1 = the first line)
    QList<int> duplicateLines; // lines giving a register an earlier line gave
    int registersGiven = 0;    // registers of class "N" the file gives
    // What a load says of the file beyond its writes: how many registers it
    // gives, the lines skipped and the registers given twice; empty when the
    // file is as the tool writes it.
    QString notes() const;
    bool ok() const { return status == Ok; }
};

// Checks the form of a file's lines; the product is not checked yet. When
// the last line had no line end (a file cut short), that line is taken only
// if it is whole; otherwise it is skipped like a line of no known form.
CfgCheck parseCfgLines(const QStringList& lines, bool lastLineCut = false);
// Checks a parsed file against the unit's registers 00 and 01 in the state,
// which must have been read from the unit. Nothing is changed.
void checkCfgProduct(CfgCheck& check, const DeviceState& state);
// Both: form, then product.
CfgCheck checkCfgLines(const QStringList& lines, const DeviceState& state);
// Reads a file and checks its form.
CfgCheck parseCfgFile(const QString& path);
// Reads and checks a file, form and product.
CfgCheck readCfgFile(const QString& path, const DeviceState& state);
// Takes a checked file into the cache (and the typed mirror); its registers
// become the file's.
void applyCfg(DeviceState& state, const CfgContent& content);
// The registers a load of this content sends, ascending: those of class "N"
// for the unit's layout that the file gives, and those of alsoWrite it gives.
// Nothing without a known layout.
QList<int> cfgWriteRegisters(const DeviceState& state, const CfgContent& content,
                             const QList<int>& alsoWrite = {});

// Splits a text file into lines at CR LF, CR or LF.
QStringList splitTextLines(const QByteArray& data);

} // namespace gp
