#include "ScreenMetrics.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenMetrics, TheQtSourceReadsThePrimaryScreen)
{
    // The widget tests run on an offscreen screen of 1920 x 1080.
    EXPECT_EQ(Screen().ScreenSize(), QSize(1920, 1080));
    const QRect work = Screen().WorkArea(nullptr);
    EXPECT_FALSE(work.isEmpty());
    EXPECT_LE(work.width(), 1920);
    EXPECT_GT(Screen().VerticalScrollBarWidth(), 0);
}

TEST(ScreenMetrics, ScopedValuesNestAndRestore)
{
    const QSize real = Screen().ScreenSize();
    FixedScreenMetrics small;
    small.Screen = QSize(1279, 1024);
    small.Work = QRect(0, 0, 1279, 994);
    {
        const ScopedScreenMetrics outer(small);
        EXPECT_EQ(Screen().ScreenSize(), QSize(1279, 1024));
        FixedScreenMetrics wide;
        wide.Screen = QSize(1920, 767);
        wide.Caption = 30;
        {
            const ScopedScreenMetrics inner(wide);
            EXPECT_EQ(Screen().ScreenSize(), QSize(1920, 767));
            EXPECT_EQ(Screen().CaptionHeight(), 30);
        }
        EXPECT_EQ(Screen().ScreenSize(), QSize(1279, 1024));
        EXPECT_EQ(Screen().WorkArea(nullptr), QRect(0, 0, 1279, 994));
    }
    EXPECT_EQ(Screen().ScreenSize(), real);
}

}  // namespace
