#include "app/typed_number.h"

#include <cmath>

namespace gp {

std::optional<double> typedNumber(const QString& text, TypedNumberForm form, const QLocale& locale,
                                  bool refuseControl) {
    if (refuseControl)
        for (QChar c : text)
            if (c.unicode() < 0x20 && c != QLatin1Char(' '))
                return std::nullopt;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    double v = 0;
    switch (form) {
    case TypedNumberForm::COnly:
        v = QLocale::c().toDouble(t, &ok);
        break;
    case TypedNumberForm::CThenLocale:
        v = QLocale::c().toDouble(t, &ok);
        if (!ok)
            v = locale.toDouble(t, &ok);
        break;
    case TypedNumberForm::LocaleThenC:
        v = locale.toDouble(t, &ok);
        if (!ok)
            v = QLocale::c().toDouble(t, &ok);
        break;
    }
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<double> typedRoundedNumber(const QString& text, TypedNumberForm form,
                                         const QLocale& locale) {
    const auto v = typedNumber(text, form, locale);
    if (!v)
        return std::nullopt;
    return std::nearbyint(*v); // default rounding mode: to nearest, ties to even
}

} // namespace gp
