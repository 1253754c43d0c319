#include "Program.h"

#include "MessageBox.h"
#include "ScreenMetrics.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

#include <memory>
#include <stdexcept>

namespace {

struct ScreenCase {
    int width;
    int height;
    bool accepted;
};

void PrintTo(const ScreenCase& c, std::ostream* os)
{
    *os << c.width << 'x' << c.height;
}

class ScreenCheck : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenCheck, RefusesScreensBelow1280x768WithTheMessage)
{
    const ScreenCase& c = GetParam();
    FixedScreenMetrics metrics;
    metrics.Screen = QSize(c.width, c.height);
    metrics.Work = QRect(0, 0, c.width, c.height - 40);
    const ScopedScreenMetrics scoped(metrics);
    DialogRecorder dialogs;
    int formsCreated = 0;
    const int code = RunProgram(*qApp, [&]() -> std::unique_ptr<QWidget> {
        ++formsCreated;
        auto form = std::make_unique<QWidget>();
        // Closing the only window ends the message loop.
        QTimer::singleShot(0, form.get(), [w = form.get()] { w->close(); });
        return form;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("KSN48_Vevu"));
    if (c.accepted) {
        EXPECT_EQ(formsCreated, 1);
        EXPECT_TRUE(dialogs.Shown().empty());
    } else {
        EXPECT_EQ(formsCreated, 0);
        ASSERT_EQ(dialogs.Shown().size(), 1u);
        EXPECT_EQ(dialogs.Shown()[0].text,
                  QStringLiteral("Разрешение монитора должно быть не ниже 1280x768!"));
        EXPECT_EQ(dialogs.Shown()[0].caption, QStringLiteral("Ошибка!!!"));
        EXPECT_EQ(dialogs.Shown()[0].icon, MessageIcon::None);
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenCheck,
                         ::testing::Values(ScreenCase{1280, 768, true},
                                           ScreenCase{1920, 1080, true},
                                           ScreenCase{1279, 1024, false},
                                           ScreenCase{1920, 767, false},
                                           ScreenCase{1279, 767, false}, ScreenCase{0, 0, false}));

TEST(Program, AStandardExceptionShowsItsMessage)
{
    DialogRecorder dialogs;
    const int code = RunProgram(*qApp, []() -> std::unique_ptr<QWidget> {
        throw std::runtime_error("window could not be built");
    });
    EXPECT_EQ(code, 0);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].kind, DialogKind::Exception);
    EXPECT_EQ(dialogs.Shown()[0].text, QStringLiteral("window could not be built"));
}

TEST(Program, AnyOtherThrownValueShowsAnEmptyMessage)
{
    DialogRecorder dialogs;
    const int code = RunProgram(*qApp, []() -> std::unique_ptr<QWidget> { throw 42; });
    EXPECT_EQ(code, 0);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].kind, DialogKind::Exception);
    EXPECT_TRUE(dialogs.Shown()[0].text.isEmpty());
}

// Runs only where the test run says what the screen is meant to be.
TEST(RealScreen, TheEntryChecksThePrimaryScreen)
{
    const QByteArray expected = qgetenv("KSN_TEST_SCREEN_ACCEPTED");
    if (expected.isEmpty()) {
        GTEST_SKIP() << "run with an offscreen screen configuration and KSN_TEST_SCREEN_ACCEPTED";
    }
    DialogRecorder dialogs;
    int formsCreated = 0;
    RunProgram(*qApp, [&]() -> std::unique_ptr<QWidget> {
        ++formsCreated;
        auto form = std::make_unique<QWidget>();
        QTimer::singleShot(0, form.get(), [w = form.get()] { w->close(); });
        return form;
    });
    if (expected == "1") {
        EXPECT_EQ(formsCreated, 1);
        EXPECT_TRUE(dialogs.Shown().empty());
    } else {
        EXPECT_EQ(formsCreated, 0);
        ASSERT_EQ(dialogs.Shown().size(), 1u);
        EXPECT_EQ(dialogs.Shown()[0].text,
                  QStringLiteral("Разрешение монитора должно быть не ниже 1280x768!"));
    }
}

}  // namespace
