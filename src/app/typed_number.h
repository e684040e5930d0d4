#pragma once
// A number the engineer typed into a field. Every view and command reads its
// numbers here; each field keeps the forms it has always accepted, said by
// the order in which the C and the user's locale are tried.

#include <QLocale>
#include <QString>
#include <optional>

namespace gp {

enum class TypedNumberForm {
    COnly,       // "12.5" only: what goes on to the CO2 sensor's own line
    CThenLocale, // "12.5", else the user's "12,5"
    LocaleThenC, // the user's "12,5" first (calibration trims), else "12.5"
};

// The number, or nothing for an empty or unreadable field, infinity or NaN.
// Surrounding blanks are ignored; with refuseControl, a control character
// anywhere (it would end the sensor's line early) refuses the field.
std::optional<double> typedNumber(const QString& text, TypedNumberForm form,
                                  const QLocale& locale = QLocale(), bool refuseControl = false);

// Rounded to the nearest integer, halves to the even neighbour, as the unit
// tool has always rounded.
std::optional<double> typedRoundedNumber(const QString& text, TypedNumberForm form,
                                         const QLocale& locale = QLocale());

} // namespace gp
