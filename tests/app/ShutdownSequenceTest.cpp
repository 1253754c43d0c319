#include "ShutdownSequence.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using State = TShutdownSequence::State;

struct ShutdownCase : ksn::test::NamedCase {
    std::function<void(TShutdownSequence&)> steps;
    State final;
    bool closing;
    bool windowGone;
};

class ShutdownPaths : public ::testing::TestWithParam<ShutdownCase> {};

TEST_P(ShutdownPaths, EndInTheirState)
{
    TShutdownSequence shutdown;
    GetParam().steps(shutdown);
    EXPECT_EQ(shutdown.Current(), GetParam().final)
        << "in " << TShutdownSequence::Name(shutdown.Current());
    EXPECT_EQ(shutdown.Closing(), GetParam().closing);
    EXPECT_EQ(shutdown.WindowGone(), GetParam().windowGone);
}

const ShutdownCase Cases[] = {
    {{"ACloseOfItsOwn"}, [](TShutdownSequence& s) { s.BeginClose(); }, State::Closing, true, false},
    {{"AHeldBackRequestIsTakenOnce"},
     [](TShutdownSequence& s) {
         EXPECT_TRUE(s.AskClose());
         EXPECT_FALSE(s.AskClose()) << "a second request closes the boxes again";
     },
     State::CloseAsked,
     false,
     false},
    {{"AHeldBackRequestClosesOnceTheBoxesAreGone"},
     [](TShutdownSequence& s) {
         ASSERT_TRUE(s.AskClose());
         EXPECT_TRUE(s.CloseDue());
         s.BeginClose();
     },
     State::Closing,
     true,
     false},
    {{"ARequestAfterTheCloseHasBegunIsNone"},
     [](TShutdownSequence& s) {
         s.BeginClose();
         EXPECT_FALSE(s.AskClose());
         EXPECT_FALSE(s.CloseDue()) << "the close must not run twice";
     },
     State::Closing,
     true,
     false},
    {{"TheWindowDestroyedThenTheShutdown"},
     [](TShutdownSequence& s) {
         EXPECT_TRUE(s.WindowDestroyed());
         EXPECT_FALSE(s.WindowDestroyed());
         s.BeginClose();
     },
     State::ClosingGone,
     true,
     true},
    {{"TheWindowDestroyedDuringTheShutdown"},
     [](TShutdownSequence& s) {
         s.BeginClose();
         EXPECT_TRUE(s.WindowDestroyed());
         s.BeginClose();
     },
     State::ClosingGone,
     true,
     true},
    {{"TheWindowDestroyedWhileARequestWaits"},
     [](TShutdownSequence& s) {
         ASSERT_TRUE(s.AskClose());
         EXPECT_TRUE(s.WindowDestroyed());
         EXPECT_TRUE(s.CloseDue()) << "the held-back close still runs";
     },
     State::WindowGone,
     false,
     true},
};

INSTANTIATE_TEST_SUITE_P(Table, ShutdownPaths, ::testing::ValuesIn(Cases),
                         ksn::test::CaseName<ShutdownCase>);

}  // namespace
