#include "ShutdownSequence.h"

#include "StateMove.h"

bool TShutdownSequence::Allowed(State from, State to) noexcept
{
    switch (from) {
    case State::Open:
        return to == State::CloseAsked || to == State::WindowGone || to == State::Closing;
    case State::CloseAsked:
        return to == State::Open || to == State::WindowGone || to == State::Closing;
    case State::WindowGone:
        return to == State::ClosingGone;
    case State::Closing:
        return to == State::ClosingGone;
    case State::ClosingGone:
        return false;
    }
    return false;
}

const char* TShutdownSequence::Name(State state) noexcept
{
    switch (state) {
    case State::Open:
        return "open";
    case State::CloseAsked:
        return "close asked";
    case State::WindowGone:
        return "window gone";
    case State::Closing:
        return "closing";
    case State::ClosingGone:
        return "closing without its window";
    }
    return "?";
}

void TShutdownSequence::Enter(State to)
{
    if (!Allowed(state_, to)) {
        ReportBadMove("shutdown", Name(state_), Name(to));
    }
    state_ = to;
}

bool TShutdownSequence::AskClose()
{
    if (state_ != State::Open) {
        return false;
    }
    Enter(State::CloseAsked);
    return true;
}

bool TShutdownSequence::CloseDue()
{
    if (state_ == State::CloseAsked) {
        Enter(State::Open);
    }
    return !Closing();
}

bool TShutdownSequence::WindowDestroyed()
{
    if (WindowGone()) {
        return false;
    }
    Enter(Closing() ? State::ClosingGone : State::WindowGone);
    return true;
}

void TShutdownSequence::BeginClose()
{
    if (Closing()) {
        return;
    }
    Enter(state_ == State::WindowGone ? State::ClosingGone : State::Closing);
}
