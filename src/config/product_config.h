#pragma once
// What a unit is: application id, feature bits, vendor id, vendor and product
// name, kept in registers 01 and 04..0F. The "Product Config" frame gathers
// its controls into a ProductConfig; this file turns it into the write batch
// and turns read registers back into what the controls show.

#include "link/device_state.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace gp {

class Link;

inline constexpr int kVendorNameLength = 31;
inline constexpr int kProductNameLength = 11;

struct ProductConfig {
    static constexpr int kFeatureBits = 28;
    uint32_t features = 0; // bits 0..27, one per feature check box
    int appId = -1;        // 0..15; -1 when no application is selected
    QString vendorIdText;  // as typed; see vendorIdFromText
    QString vendorName;    // at most kVendorNameLength characters reach the unit
    QString productName;   // at most kProductNameLength characters reach the unit
};

// Captions of feature check box i (0..27) and of the 16 application ids.
QString featureCaption(int bit);
// The bit a feature is named by: its caption as the unit spells it
// ("Humdity") or as it is spelled ("Humidity"), letter case aside; -1 when
// none.
int featureBitNamed(const QString& name);
// Every name featureBitNamed takes, for messages.
QStringList featureNamesAccepted();
QStringList applicationCaptions();

// The vendor id a text gives: a number rounded to the nearest integer when
// it is above 0 and below 32657, otherwise 0.
int vendorIdFromText(const QString& text);
// Register 01: feature bits with the application id in bits 28..31.
int32_t featureRegisterValue(const ProductConfig& config);

// How registers 01 and 04..0F show in the controls.
ProductConfig productConfigFromRegisters(const RegisterRecord& record);

// The 16 frames of the write: registers 01, 04, 05..0C, 0D..0F, then
// ":SP#" (burn), ":SD#" (defaults) and ":SR#" (reset), in that order.
QStringList productConfigFrames(const ProductConfig& config);

// The fields a product write was given; the others go back to the unit as
// read from it, register for register.
struct ProductFieldsGiven {
    bool appId = false;
    bool features = false;
    bool vendorId = false;
    bool vendorName = false;
    bool productName = false;
};
// Registers 01 and 04..0F: what a product write needs to know.
QList<int> productConfigRegisters();
// The frames of productConfigFrames, with every field not given written as
// the state holds it. The state must hold registers 01 and 04..0F as read.
QStringList productConfigFramesKeeping(const ProductConfig& config, const DeviceState& unit,
                                       const ProductFieldsGiven& given);
// Starts the product write: productConfigFramesKeeping's frames, as one
// batch.
void WriteProductConfig(Link& link, const ProductConfig& config, const ProductFieldsGiven& given);

} // namespace gp
