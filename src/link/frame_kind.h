#pragma once
// What sending a command frame twice does to the unit. A read asks again and
// a register write leaves the register holding what one write leaves, so
// either may be sent again when its reply was lost. A system command (":SD#",
// ":SP#", ...) and a logo word write (one word of a logo being written) act
// again each time they arrive: those go once.

#include <QString>

namespace gp {

// ":Wnn" + eight hex digits + "#".
inline bool IsRegisterWrite(const QString& frame) {
    return frame.startsWith(QLatin1String(":W"));
}

// A register write, or a read of a register, a logo word or a unique-id part
// (":R01#", ":L05#", ":U02#").
inline bool RepeatsHarmlessly(const QString& frame) {
    if (IsRegisterWrite(frame))
        return true;
    return frame.size() == 5 &&
           (frame.startsWith(QLatin1String(":R")) || frame.startsWith(QLatin1String(":L")) ||
            frame.startsWith(QLatin1String(":U")));
}

} // namespace gp
