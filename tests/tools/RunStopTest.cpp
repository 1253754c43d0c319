// The stop of a run: a request from inside can be cleared for the next run
// of a program that makes several; a signal or the end of the duration stays.
#include "RunStop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

TEST(RunStop, RearmClearsARequestFromInside)
{
    tool::RunStop stop(std::nullopt);
    stop.Request();
    EXPECT_TRUE(stop.Requested());
    EXPECT_TRUE(stop.Rearm());
    EXPECT_FALSE(stop.Requested());
    EXPECT_FALSE(stop.WaitFor(1ms));
}

TEST(RunStop, RearmKeepsTheEndOfTheDuration)
{
    tool::RunStop stop(0.01);
    EXPECT_TRUE(stop.WaitFor(10s));
    EXPECT_FALSE(stop.Rearm());
    EXPECT_TRUE(stop.Requested());
}

TEST(RunStop, RearmKeepsASignal)
{
    tool::RunStop stop(std::nullopt);
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    EXPECT_TRUE(stop.WaitFor(10s));
    EXPECT_FALSE(stop.Rearm());
    EXPECT_TRUE(stop.Requested());
}

}  // namespace
