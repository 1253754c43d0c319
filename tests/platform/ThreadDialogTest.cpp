#include "ApplicationHooks.h"
#include "CaseName.h"
#include "MessageBox.h"
#include "ScreenMetrics.h"
#include "ThreadDialog.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

namespace {

FixedScreenMetrics Metrics()
{
    FixedScreenMetrics m;
    m.Caption = 23;
    m.FrameWidth = 3;
    m.FrameHeight = 4;
    return m;
}

struct DialogCase : ksn::test::NamedCase {
    QString text;
    QStringList buttons;
    int minButtonWidth;
    QRect mainWindow;
};

class ThreadDialogShape : public ::testing::TestWithParam<DialogCase> {};

TEST_P(ThreadDialogShape, FollowsTheLayoutRules)
{
    const DialogCase& c = GetParam();
    const FixedScreenMetrics metrics = Metrics();
    const ScopedScreenMetrics scoped(metrics);
    QWidget mainWindow;
    mainWindow.setGeometry(c.mainWindow);
    ThreadDialogOptions options;
    options.buttons = c.buttons;
    options.minButtonWidth = c.minButtonWidth;
    ThreadDialogGeometry g;
    const auto dialog =
        BuildThreadDialog(&mainWindow, QStringLiteral("Сообщение"), c.text, options, &g);

    // Outer width 570, centred over the main window (integer halves).
    EXPECT_EQ(g.frame.width(), 570);
    EXPECT_EQ(g.frame.left(), c.mainWindow.left() + (c.mainWindow.width() - 570) / 2);
    EXPECT_EQ(g.frame.top(), c.mainWindow.top() + (c.mainWindow.height() - g.frame.height()) / 2);

    // The wrapped text fits its label, which stays inside the client area.
    QFont font = dialog->font();
    EXPECT_EQ(font.pointSize(), 12);
    const QFontMetrics fm(font);
    const QRect needed = fm.boundingRect(QRect(0, 0, g.label.width(), 100000),
                                         Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, c.text);
    EXPECT_LE(needed.height(), g.label.height());
    EXPECT_LE(g.label.right(), 570 - 2 * metrics.FrameWidth);

    // Buttons: one width for all, wide enough for each caption, 10 pixels
    // under the label, evenly spaced across the outer width.
    ASSERT_EQ(g.buttons.size(), static_cast<size_t>(c.buttons.size()));
    const size_t n = g.buttons.size();
    const int b = g.buttons[0].width();
    EXPECT_GE(b, c.minButtonWidth);
    for (size_t k = 0; k < n; ++k) {
        EXPECT_EQ(g.buttons[k].width(), b);
        EXPECT_GE(b, fm.horizontalAdvance(c.buttons[static_cast<qsizetype>(k)]) + 20);
        EXPECT_EQ(g.buttons[k].top(), g.label.top() + g.label.height() + 10);
        EXPECT_EQ(g.buttons[k].height(), fm.height() + 15);
    }
    const int gap = g.buttons[0].left();
    for (size_t k = 1; k < n; ++k) {
        EXPECT_NEAR(g.buttons[k].left() - (g.buttons[k - 1].left() + b), gap, 1);
    }
    EXPECT_NEAR(570 - (g.buttons[n - 1].left() + b), gap, 1);

    // Height: caption + last button bottom + two frames + 10.
    const QRect& last = g.buttons.back();
    EXPECT_EQ(g.frame.height(),
              metrics.Caption + last.top() + last.height() + 2 * metrics.FrameHeight + 10);

    // The widgets are where the geometry says.
    const auto* label = dialog->findChild<QLabel*>(QStringLiteral("Message"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), g.label);
    EXPECT_TRUE(label->wordWrap());
    const auto* button = dialog->findChild<QPushButton*>(QStringLiteral("Button0"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), g.buttons[0]);
    EXPECT_EQ(button->text(), c.buttons[0]);
    EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(255, 128, 32));
    EXPECT_EQ(dialog->palette().color(QPalette::WindowText), QColor(255, 255, 255));
}

const QString LongText = QStringLiteral(
    "Опаньки!!!\nПоймали неустранимое исключение в потоке 'MainThread'!!!\nСрочно сообщите "
    "разработчику! Это очень длинная строка сообщения, которая должна переноситься по словам "
    "внутри окна шириной пятьсот семьдесят точек, и не одну строку, а несколько.");

INSTANTIATE_TEST_SUITE_P(
    Cases, ThreadDialogShape,
    ::testing::Values(DialogCase{{"OneShortLine"},
                                 QStringLiteral("Не могу найти ни одного KSN крейта!"),
                                 QStringList{ThreadDialogButtonCaption},
                                 100,
                                 QRect(100, 50, 1000, 800)},
                      DialogCase{{"LongWrappedText"},
                                 LongText,
                                 QStringList{ThreadDialogButtonCaption},
                                 100,
                                 QRect(0, 0, 1280, 768)},
                      DialogCase{{"NoMinimumWidth"},
                                 QStringLiteral("x"),
                                 QStringList{QStringLiteral("OK")},
                                 0,
                                 QRect(7, 9, 801, 601)},
                      DialogCase{{"ThreeButtons"},
                                 QStringLiteral("Выбор"),
                                 QStringList{QStringLiteral("Да"), QStringLiteral("Нет"),
                                             QStringLiteral("Отмена")},
                                 100,
                                 QRect(0, 0, 1920, 1080)},
                      DialogCase{{"MainWindowNarrowerThanDialog"},
                                 QStringLiteral("t"),
                                 QStringList{ThreadDialogButtonCaption},
                                 100,
                                 QRect(10, 10, 300, 200)}),
    ksn::test::CaseName<DialogCase>);

TEST(ThreadDialog, ButtonsAreAtLeastOneHundredPixelsWide)
{
    ThreadDialogGeometry g;
    BuildThreadDialog(nullptr, QStringLiteral("c"), QStringLiteral("t"), {}, &g);
    ASSERT_EQ(g.buttons.size(), 1u);
    EXPECT_GE(g.buttons[0].width(), 100);
}

TEST(ThreadDialog, ShownThroughTheHookWithTheShortcutHandlerDetached)
{
    int shortcutCalls = 0;
    ApplicationHooks::SetShortCut([&](int) {
        ++shortcutCalls;
        return false;
    });
    bool detachedWhileShown = false;
    DialogRecorder recorder;
    recorder.OnShown = [&](const ShownDialog&) {
        detachedWhileShown = !ApplicationHooks::ShortCut();
    };
    const int result = ShowThreadDialog(
        nullptr, QStringLiteral("Сообщение TMainThread::Execute()!!!"), QStringLiteral("текст"));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(detachedWhileShown);
    EXPECT_TRUE(static_cast<bool>(ApplicationHooks::ShortCut())) << "restored after the dialog";
    ASSERT_EQ(recorder.Shown().size(), 1u);
    const ShownDialog& shown = recorder.Shown()[0];
    EXPECT_EQ(shown.kind, DialogKind::ThreadDialog);
    EXPECT_EQ(shown.caption, QStringLiteral("Сообщение TMainThread::Execute()!!!"));
    EXPECT_EQ(shown.text, QStringLiteral("текст"));
    EXPECT_EQ(shown.icon, MessageIcon::Error);
    EXPECT_EQ(shown.buttons, QStringList{QStringLiteral("Принято")});
    ApplicationHooks::SetShortCut(nullptr);
}

TEST(ThreadDialog, AHandlerRemovedWhileTheDialogIsUpStaysRemoved)
{
    // A window that closes while its thread's dialog is up takes its handler
    // with it; the dialog must not bring back a handler of a dead window.
    ApplicationHooks::SetShortCut([](int) { return false; });
    DialogRecorder recorder;
    recorder.OnShown = [](const ShownDialog&) { ApplicationHooks::SetShortCut(nullptr); };
    ShowThreadDialog(nullptr, QStringLiteral("c"), QStringLiteral("t"));
    EXPECT_FALSE(static_cast<bool>(ApplicationHooks::ShortCut()));
}

}  // namespace
