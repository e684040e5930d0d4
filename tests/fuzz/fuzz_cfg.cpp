// The ".cfg" reader. Two properties: any file either loads or is refused, and
// a file that loads never names another product than the unit's; and what
// the tool saves of any unit (any register values, any identity texts, either
// save mode) loads back into the same unit with every register it holds.

#include "fuzz/fuzz_support.h"
#include "unit/cfg_file.h"

#include <QDateTime>

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    gp::DeviceState unit;
    const bool roundTrip = in.flag();
    if (roundTrip) {
        const bool allNonvol = in.flag();
        for (int r = 0; r < 256; ++r)
            unit.setRegister(r, static_cast<int32_t>(in.u32()), gp::ValueSource::Unit);
        unit.setRegister(0, in.byte() % 8, gp::ValueSource::Unit); // the layout code
        for (auto& s : unit.IdentStrings)
            s = QString::fromLatin1(in.chunk(12));
        unit.FirmwareVersion = static_cast<int16_t>(in.u32());
        unit.StatusFlags = static_cast<int32_t>(in.u32());

        QStringList lines = gp::cfgLines(unit, allNonvol);
        lines += gp::cfgCommentLines(unit, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        QByteArray file;
        for (const QString& line : lines)
            file += line.toLatin1() + "\r\n";
        const gp::CfgCheck check = gp::checkCfgLines(gp::splitTextLines(file), unit);
        FUZZ_CHECK(check.ok(), "the tool refuses its own file: " + check.message);
        for (int r = 0; r < 256; ++r) {
            const auto& v = check.content.registers[size_t(r)];
            if (v)
                FUZZ_CHECK(*v == unit.RegCache[size_t(r)], "register changed on the way");
            else
                FUZZ_CHECK(!allNonvol, "a register of an all-registers file was not loaded");
        }
        FUZZ_CHECK(check.content.statusFlags == unit.StatusFlags, "status line lost");
        return 0;
    }
    unit.setRegister(0, static_cast<int32_t>(in.u32()), gp::ValueSource::Unit);
    unit.setRegister(1, static_cast<int32_t>(in.u32()), gp::ValueSource::Unit);
    const gp::CfgCheck check = gp::checkCfgLines(gp::splitTextLines(in.rest()), unit);
    if (!check.ok()) {
        FUZZ_CHECK(!check.message.isEmpty(), "a refusal without a reason");
        return 0;
    }
    for (int r = 0; r <= 1; ++r) {
        const auto& v = check.content.registers[size_t(r)];
        FUZZ_CHECK(!v || *v == unit.RegCache[size_t(r)], "a file of another product loads");
    }
    return 0;
}
