// The bounded queue between the measurement and the sender.
#include "FrameQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Pop(mqtt::FrameQueue& queue)
{
    std::vector<char> buffer(queue.SlotSize());
    const std::size_t n = queue.PopWhen(buffer.data(), Clock::now(), [] { return true; });
    return std::string(buffer.data(), n);
}

TEST(FrameQueue, KeepsOrderAndDropsTheOldestWhenFull)
{
    mqtt::FrameQueue queue(3, 16);
    for (const char* text : {"1", "22", "333", "4444", "55555"}) {
        EXPECT_TRUE(queue.Push(text));
    }
    EXPECT_EQ(queue.Size(), 3u);
    EXPECT_EQ(queue.Dropped(), 2u);
    EXPECT_EQ(Pop(queue), "333");
    EXPECT_EQ(Pop(queue), "4444");
    // Wrapped round: the slot of the first text holds the newest.
    EXPECT_TRUE(queue.Push("666666"));
    EXPECT_EQ(Pop(queue), "55555");
    EXPECT_EQ(Pop(queue), "666666");
    EXPECT_EQ(Pop(queue), "");
    EXPECT_EQ(queue.Dropped(), 2u);
}

TEST(FrameQueue, RefusesTextsNoSlotHolds)
{
    mqtt::FrameQueue queue(2, 4);
    EXPECT_TRUE(queue.Push("abcd"));
    EXPECT_FALSE(queue.Push("abcde"));
    EXPECT_FALSE(queue.Push(""));
    EXPECT_EQ(queue.Dropped(), 2u);
    EXPECT_EQ(Pop(queue), "abcd");
}

TEST(FrameQueue, PopWaitsForTextAndReadiness)
{
    mqtt::FrameQueue queue(4, 8);
    std::atomic<bool> ready{false};
    std::vector<char> buffer(queue.SlotSize());
    // Neither text nor readiness: nothing by the deadline.
    EXPECT_EQ(queue.PopWhen(buffer.data(), Clock::now() + 20ms, [&] { return ready.load(); }), 0u);
    queue.Push("x");
    // Text, not ready: still nothing, and the text stays.
    EXPECT_EQ(queue.PopWhen(buffer.data(), Clock::now() + 20ms, [&] { return ready.load(); }), 0u);
    EXPECT_EQ(queue.Size(), 1u);
    // Readiness comes from another thread with a wake.
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        ready = true;
        queue.Wake();
    });
    const std::size_t n =
        queue.PopWhen(buffer.data(), Clock::now() + 10s, [&] { return ready.load(); });
    other.join();
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(buffer[0], 'x');
}

TEST(FrameQueue, ClearCountsWhatItDrops)
{
    mqtt::FrameQueue queue(4, 8);
    queue.Push("a");
    queue.Push("b");
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.Dropped(), 2u);
}

}  // namespace
