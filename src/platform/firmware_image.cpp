#include "platform/firmware_image.h"

namespace gp {

std::optional<int> imageVersion(const QByteArray& image) {
    const QByteArray marker(kImageVersionMarker);
    const qsizetype at = image.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    int version = 0;
    int digits = 0;
    for (qsizetype i = at + marker.size(); i < image.size() && digits < 5; ++i, ++digits) {
        const char c = image[i];
        if (c < '0' || c > '9')
            break;
        version = version * 10 + (c - '0');
    }
    return digits == 0 ? std::nullopt : std::optional<int>(version);
}

} // namespace gp
