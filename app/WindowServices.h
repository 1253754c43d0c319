#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// Small rules of the window's services, free of any window so that they can
// be checked on their own.
namespace WindowServices {

// Tooltips: shown after 200 ms on a light yellow ground; each of the
// window's stays 2 s, the crate LED's 10 s for a slow-link crate, whose
// status text is long.
inline constexpr int HintPauseMs = 200;
inline constexpr int HintShowMs = 2000;
inline constexpr int LongHintShowMs = 10000;
inline constexpr int HintScreenMargin = 10;
inline constexpr int HintColorRed = 255;
inline constexpr int HintColorGreen = 255;
inline constexpr int HintColorBlue = 164;
inline const QString CrateLedName = QStringLiteral("KsnCrateStatusLed");

// How long a tooltip of the control with this name stays.
int HintShowTime(const QString& controlName, std::optional<std::uint8_t> selectedCrateType);

// Moves a tooltip that would cross the right or bottom edge of the work area
// back inside, 10 pixels off that edge.
QPoint KeepHintOnScreen(QPoint topLeft, QSize hint, const QRect& workArea);

// Operating system families the classification knows.
enum class OsPlatform { Win32s, Windows9x, WindowsNt, Other };

// The class code of an operating system version: 1 to 10 for the known
// versions, 0 for anything else. From 9 on captions are drawn flat.
int ClassifyOsVersion(OsPlatform platform, unsigned major, unsigned minor);
inline constexpr int FlatCaptionOsCode = 9;

// The class code of the running system: 0 here, as no such version exists.
int GetOsVersionCode();

}  // namespace WindowServices
