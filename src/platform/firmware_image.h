#pragma once
// What a firmware image says of itself. The firmware build puts the ASCII
// text "QRUFWVER=" followed by one to five decimal digits, the version x 100
// (221 is 2.21), into its constant data; the unit reports that number as its
// firmware version once it runs the image.

#include <QByteArray>
#include <optional>

namespace gp {

inline constexpr char kImageVersionMarker[] = "QRUFWVER=";

// The version the image carries, or nothing when it carries none.
std::optional<int> imageVersion(const QByteArray& image);

} // namespace gp
