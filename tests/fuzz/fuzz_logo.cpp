// The ".lgo" logo reader: a file of any content is either refused or gives
// only logo frames of the unit's grammar, at most one per logo block;
// and the file the tool writes of any logo reads back as the same frames.

#include "fuzz/fuzz_support.h"
#include "link/codec.h"
#include "link/device_state.h"
#include "unit/cfg_file.h"
#include "unit/logo_transfer.h"

using gp::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    if (in.flag()) {
        gp::DeviceState state;
        for (auto& w : state.LRegCache)
            w = static_cast<int32_t>(in.u32());
        const QStringList lines = gp::logoFileLines(state);
        QByteArray file;
        for (const QString& line : lines)
            file += line.toLatin1() + "\r\n";
        const gp::LogoFile back = gp::logoFramesFromLines(gp::splitTextLines(file));
        FUZZ_CHECK(back.ok(), "the tool refuses its own logo file: " + back.error);
        FUZZ_CHECK(back.frames == lines, "the logo file reads back otherwise");
        return 0;
    }
    const gp::LogoFile logo = gp::logoFramesFromLines(gp::splitTextLines(in.rest()));
    if (!logo.ok())
        return 0;
    FUZZ_CHECK(logo.frames.size() <= gp::kLogoWords, "more frames than logo blocks");
    for (const QString& frame : logo.frames)
        FUZZ_CHECK(gp::IsCommandFrame(frame) && frame.startsWith(QLatin1String(":L")),
                   "not a logo frame: " + frame);
    return 0;
}
