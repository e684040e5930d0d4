#include "app/app_context.h"

namespace gp {

namespace {
constexpr char kCalibrationWord[] = "qmtrvexalond";
constexpr char kAdvancedWord[] = "plodnivster";
} // namespace

OperatingMode operatingModeFrom(Persist& persist) {
    auto is = [&](const char* key, const char* word) {
        return persist.ReadIniValue(QString::fromLatin1(key)).value_or(QString()) ==
               QLatin1String(word);
    };
    return {is("CALIBRATION", kCalibrationWord), is("ADVANCED", kAdvancedWord)};
}

} // namespace gp
