#include "WindowServices.h"

#include "CrateTypes.h"

namespace WindowServices {

int HintShowTime(const QString& controlName, std::optional<std::uint8_t> selectedCrateType)
{
    if (controlName == CrateLedName && selectedCrateType &&
        device::IsSlowLinkCrate(*selectedCrateType)) {
        return LongHintShowMs;
    }
    return HintShowMs;
}

QPoint KeepHintOnScreen(QPoint topLeft, QSize hint, const QRect& workArea)
{
    // QRect's right() and bottom() are the last pixel inside; the edge is one further.
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    if (topLeft.y() + hint.height() > bottom) {
        topLeft.setY(bottom - hint.height() - HintScreenMargin);
    }
    if (topLeft.x() + hint.width() > right) {
        topLeft.setX(right - hint.width() - HintScreenMargin);
    }
    return topLeft;
}

int ClassifyOsVersion(OsPlatform platform, unsigned major, unsigned minor)
{
    switch (platform) {
    case OsPlatform::Win32s:
        return 1;
    case OsPlatform::Windows9x:
        if (major == 4 && minor == 0) {
            return 2;
        }
        return (major > 4 || (major == 4 && minor > 0)) ? 3 : 0;
    case OsPlatform::WindowsNt:
        if (major <= 4) {
            return 4;
        }
        if (major == 5) {
            return minor <= 2 ? static_cast<int>(5 + minor) : 0;
        }
        if (major == 6) {
            return minor <= 1 ? static_cast<int>(8 + minor) : 10;
        }
        return 0;
    case OsPlatform::Other:
        break;
    }
    return 0;
}

int GetOsVersionCode()
{
    // Only the systems of the table have a code; this one is not among them.
    return ClassifyOsVersion(OsPlatform::Other, 0, 0);
}

}  // namespace WindowServices
