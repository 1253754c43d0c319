#include "ApplicationHooks.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A line edit that counts the keys that reach it.
class CountingEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        ++keys;
        QLineEdit::keyPressEvent(e);
    }
};

class ApplicationHooksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        edit = new CountingEdit(&window);
        layout->addWidget(edit);
        window.show();
        QApplication::setActiveWindow(&window);
        edit->setFocus();
        QApplication::processEvents();
    }
    void TearDown() override { ApplicationHooks::SetShortCut(nullptr); }

    void Press(int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window, &press);
    }

    QWidget window;
    CountingEdit* edit = nullptr;
};

TEST_F(ApplicationHooksTest, TheHandlerSeesEachKeyOnceBeforeTheFocusedControl)
{
    ASSERT_EQ(QApplication::focusWidget(), edit);
    std::vector<int> seen;
    ApplicationHooks::SetShortCut([&](int key) {
        seen.push_back(key);
        return false;
    });
    // Escape is ignored by the edit and travels up to the window: still one call.
    Press(Qt::Key_Escape);
    Press(Qt::Key_A);
    EXPECT_EQ(seen, (std::vector<int>{Qt::Key_Escape, Qt::Key_A}));
    EXPECT_EQ(edit->keys, 2);
}

TEST_F(ApplicationHooksTest, AHandledKeyDoesNotReachTheControl)
{
    ApplicationHooks::SetShortCut([](int key) { return key == Qt::Key_Escape; });
    Press(Qt::Key_Escape);
    EXPECT_EQ(edit->keys, 0);
    Press(Qt::Key_B);
    EXPECT_EQ(edit->keys, 1);
}

TEST_F(ApplicationHooksTest, DetachedForAScopeAndBackAfterwards)
{
    int calls = 0;
    ApplicationHooks::SetShortCut([&](int) {
        ++calls;
        return false;
    });
    {
        const ApplicationHooks::ShortCutDetached detached;
        Press(Qt::Key_Escape);
    }
    Press(Qt::Key_Escape);
    EXPECT_EQ(calls, 1);
}

}  // namespace
