#include "BusyGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(BusyGuard, AHandlerEntersOnlyAnIdleWindowAndLeavesItIdleWhateverHappens)
{
    bool busy = false;
    {
        const auto guard = TBusyGuard::Enter(busy);
        EXPECT_TRUE(guard.Entered());
        EXPECT_TRUE(busy);
    }
    EXPECT_FALSE(busy);

    EXPECT_THROW(
        {
            const auto guard = TBusyGuard::Enter(busy);
            throw std::runtime_error("a handler that fails");
        },
        std::runtime_error);
    EXPECT_FALSE(busy) << "an exception left the window busy";

    busy = true;
    {
        const auto guard = TBusyGuard::Enter(busy);
        EXPECT_FALSE(guard.Entered());
    }
    EXPECT_TRUE(busy) << "a handler that did not enter must leave the flag alone";
}

TEST(BusyGuard, AReleasedHandlerDoesNotClearTheFlagTwice)
{
    bool busy = false;
    {
        auto guard = TBusyGuard::Enter(busy);
        guard.Release();
        EXPECT_FALSE(busy);
        busy = true;  // someone else's now
    }
    EXPECT_TRUE(busy);
}

TEST(BusyGuard, AProgrammaticChangeRestoresWhatItFound)
{
    for (const bool before : {false, true}) {
        bool busy = before;
        try {
            const auto guard = TBusyGuard::Hold(busy);
            EXPECT_TRUE(busy);
            throw std::runtime_error("a change that fails");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(busy, before);
    }
}

}  // namespace
