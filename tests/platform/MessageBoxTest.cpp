#include "MessageBox.h"
#include "CaseName.h"

#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <stdexcept>
#include <thread>

namespace {

struct BoxCase : ksn::test::NamedCase {
    const char* caption;
    const char* text;
    MessageIcon icon;
};

class MessageBoxCases : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxCases, TheHookSeesCaptionTextAndIconAndTheBoxCloses)
{
    const BoxCase& c = GetParam();
    DialogRecorder recorder;
    const int result =
        ShowMessageBox(QString::fromUtf8(c.text), QString::fromUtf8(c.caption), c.icon);
    EXPECT_EQ(result, 1);
    ASSERT_EQ(recorder.Shown().size(), 1u);
    const ShownDialog& shown = recorder.Shown()[0];
    EXPECT_EQ(shown.kind, DialogKind::MessageBox);
    EXPECT_EQ(shown.caption, QString::fromUtf8(c.caption));
    EXPECT_EQ(shown.text, QString::fromUtf8(c.text));
    EXPECT_EQ(shown.icon, c.icon);
    EXPECT_EQ(shown.buttons.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxCases,
    ::testing::Values(
        BoxCase{{"NoIcon"},
                "Ошибка!!!",
                "Разрешение монитора должно быть не ниже 1280x768!",
                MessageIcon::None},
        BoxCase{{"Information"}, "Внимание!!!", "Нет открытого модуля!", MessageIcon::Information},
        BoxCase{{"EmptyText"}, "x", "", MessageIcon::Error},
        BoxCase{{"TwoLines"}, "w", "line 1\nline 2", MessageIcon::Warning}));

TEST(MessageBox, ExceptionDisplayUsesTheApplicationNameAsCaption)
{
    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Prog"));
    DialogRecorder recorder;
    ShowException(QStringLiteral("bad thing"));
    QCoreApplication::setApplicationName(saved);
    ASSERT_EQ(recorder.Shown().size(), 1u);
    EXPECT_EQ(recorder.Shown()[0].kind, DialogKind::Exception);
    EXPECT_EQ(recorder.Shown()[0].caption, QStringLiteral("Prog"));
    EXPECT_EQ(recorder.Shown()[0].text, QStringLiteral("bad thing"));
    EXPECT_EQ(recorder.Shown()[0].icon, MessageIcon::Error);
}

TEST(MessageBox, AHookCanKeepTheBoxOpenAndCloseItLater)
{
    // The box stays up (its modal loop runs) until the hook's timer closes it.
    int loopTicks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++loopTicks; });
    ticker.start(1);
    const DialogHook previous = SetDialogHook([&](const ShownDialog& shown) {
        QDialog* dialog = shown.dialog;
        QTimer::singleShot(30, dialog, [dialog] { dialog->done(1); });
        return false;
    });
    ShowMessageBox(QStringLiteral("t"), QStringLiteral("c"), MessageIcon::None);
    SetDialogHook(previous);
    EXPECT_GT(loopTicks, 0);
}

TEST(MessageBox, RecordersNestAndRestoreTheOuterHook)
{
    DialogRecorder outer;
    {
        DialogRecorder inner;
        ShowMessageBox(QStringLiteral("1"), QStringLiteral("c"), MessageIcon::None);
        EXPECT_EQ(inner.Shown().size(), 1u);
    }
    ShowMessageBox(QStringLiteral("2"), QStringLiteral("c"), MessageIcon::None);
    ASSERT_EQ(outer.Shown().size(), 1u);
    EXPECT_EQ(outer.Shown()[0].text, QStringLiteral("2"));
}

TEST(MessageBox, OffTheGuiThreadADialogIsRefusedNotBuilt)
{
    DialogRecorder recorder;
    bool refused = false;
    std::thread other([&] {
        try {
            ShowMessageBox(QStringLiteral("t"), QStringLiteral("c"), MessageIcon::None);
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(recorder.Shown().empty());
}

}  // namespace
