#include "Led.h"
#include "CaseName.h"

#include "ViewsTestSupport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <string>

namespace {

using viewstest::Render;

class LedRendering : public ::testing::TestWithParam<qreal> {};

// The disc fills the smaller side, is symmetric, has a sharp antialiased rim
// (drawn at device resolution, not scaled up) and nothing outside it.
TEST_P(LedRendering, IsRoundAndCrisp)
{
    const qreal dpr = GetParam();
    TLed led;
    led.resize(40, 30);  // not square: the lamp stays a circle
    led.SetValue(true);
    const QImage image = Render(led, dpr, false);
    viewstest::KeepSnapshot(image, QStringLiteral("led-%1x").arg(dpr));

    const int w = image.width();
    const int h = image.height();
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    const double radius = (30.0 - 2.0) / 2.0 * dpr;
    int rimPixels = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int alpha = image.pixelColor(x, y).alpha();
            const double r = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (r < radius - 1.0) {
                ASSERT_EQ(alpha, 255) << x << "," << y;
            }
            if (r > radius + 1.0) {
                ASSERT_EQ(alpha, 0) << x << "," << y;
            }
            if (alpha > 0 && alpha < 255)
                ++rimPixels;
            const int mirrorX = image.pixelColor(w - 1 - x, y).alpha();
            const int mirrorY = image.pixelColor(x, h - 1 - y).alpha();
            ASSERT_NEAR(alpha, mirrorX, 8) << x << "," << y;
            ASSERT_NEAR(alpha, mirrorY, 8) << x << "," << y;
        }
    }
    // A crisp rim is about one device pixel wide all round.
    EXPECT_LT(rimPixels, static_cast<int>(2.0 * 3.1416 * radius * 2.0));
}

INSTANTIATE_TEST_SUITE_P(Scales, LedRendering, ::testing::Values(1.0, 2.0));

struct ShownCase : ksn::test::NamedCase {
    QColor trueColor;
    QColor falseColor;
    bool value;
    bool enabled;
    QColor expected;
};

class LedShows : public ::testing::TestWithParam<ShownCase> {};

// The colour in the middle of the lamp is the family of the shown colour,
// enabled or not (a disabled panel keeps its red lamp).
TEST_P(LedShows, ItsColourForItsValue)
{
    const ShownCase& c = GetParam();
    TLed led;
    led.resize(30, 30);
    led.SetTrueColor(c.trueColor);
    led.SetFalseColor(c.falseColor);
    led.SetValue(c.value);
    led.setEnabled(c.enabled);
    EXPECT_EQ(led.ShownColor(), c.expected);

    const QColor centre = Render(led, 1.0).pixelColor(15, 15);
    const auto dominant = [](const QColor& colour) {
        if (colour.red() > colour.green() && colour.red() > colour.blue())
            return 'r';
        if (colour.green() > colour.red() && colour.green() > colour.blue())
            return 'g';
        return 'b';
    };
    EXPECT_EQ(dominant(centre), dominant(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedShows,
    ::testing::Values(ShownCase{{"set"}, Qt::red, QColor(0, 128, 0), true, true, Qt::red},
                      ShownCase{
                          {"clear"}, Qt::red, QColor(0, 128, 0), false, true, QColor(0, 128, 0)},
                      ShownCase{{"set_disabled"}, Qt::red, QColor(0, 128, 0), true, false, Qt::red},
                      ShownCase{{"clear_disabled"}, Qt::blue, Qt::red, false, false, Qt::red}),
    [](const auto& test) { return std::string(test.param.name); });

// A lamp whose two colours match is a blank and must carry no shading that
// would outline it against a background of that colour.
TEST(Led, BlankLampIsFlat)
{
    TLed led;
    led.resize(30, 30);
    const QColor blank(239, 239, 239);
    led.SetTrueColor(blank);
    led.SetFalseColor(blank);
    const QImage image = Render(led, 2.0, false);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ASSERT_EQ(pixel.rgb(), blank.rgb()) << x << "," << y;
            }
        }
}

}  // namespace
