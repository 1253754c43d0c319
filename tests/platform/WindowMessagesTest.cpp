#include "WindowMessages.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class Receiver : public QObject {
public:
    std::vector<TMessage> received;

    bool event(QEvent* e) override
    {
        if (e->type() == WindowMessageEvent::EventType()) {
            received.push_back(static_cast<WindowMessageEvent*>(e)->Message());
            return true;
        }
        return QObject::event(e);
    }
};

TEST(WindowMessages, NumbersAreThoseOfTheProgram)
{
    EXPECT_EQ(WM_START_INIT_THREAD, 1124u);
    EXPECT_EQ(WM_START_MAIN_THREAD, 1125u);
}

TEST(WindowMessages, APostedMessageArrivesLaterInOrderWithItsParameters)
{
    Receiver window;
    ASSERT_TRUE(PostMessage(&window, WM_START_INIT_THREAD, 3, 1));
    ASSERT_TRUE(PostMessage(&window, WM_START_MAIN_THREAD, 0, 0));
    EXPECT_TRUE(window.received.empty()) << "posting must not deliver at once";
    QCoreApplication::sendPostedEvents(&window);
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0].Msg, WM_START_INIT_THREAD);
    EXPECT_EQ(window.received[0].WParam, 3);
    EXPECT_EQ(window.received[0].LParam, 1);
    EXPECT_EQ(window.received[1].Msg, WM_START_MAIN_THREAD);
}

TEST(WindowMessages, AnotherThreadCanPost)
{
    Receiver window;
    std::thread poster([&] { PostMessage(&window, WM_START_INIT_THREAD, 2, 0); });
    poster.join();
    QCoreApplication::sendPostedEvents(&window);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0].WParam, 2);
}

TEST(WindowMessages, NoWindowNoMessage)
{
    EXPECT_FALSE(PostMessage(nullptr, WM_START_MAIN_THREAD, 0, 0));
}

TEST(WindowMessages, MessagesForADestroyedWindowAreDropped)
{
    auto* window = new Receiver;
    PostMessage(window, WM_START_MAIN_THREAD, 0, 0);
    delete window;
    QCoreApplication::sendPostedEvents();  // must not reach the deleted object
    SUCCEED();
}

}  // namespace
