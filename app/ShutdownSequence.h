#pragma once

#include <cstdint>

// How the window goes: a close of its own, a close request that a modal box
// holds back, or its native window destroyed by another program.
//
//   Open          nothing asked
//   CloseAsked    a close request waits for the modal boxes to give way
//   WindowGone    the native window is gone; the shutdown is to follow
//   Closing       the shutdown has begun: no thread is started after it
//   ClosingGone   the same, with the native window gone (nothing to hide)
class TShutdownSequence {
public:
    enum class State : std::uint8_t { Open, CloseAsked, WindowGone, Closing, ClosingGone };

    static bool Allowed(State from, State to) noexcept;
    static const char* Name(State state) noexcept;

    State Current() const noexcept { return state_; }
    bool Closing() const noexcept { return state_ == State::Closing || state_ == State::ClosingGone; }
    bool WindowGone() const noexcept
    {
        return state_ == State::WindowGone || state_ == State::ClosingGone;
    }

    // A close request held back by a box: true when it is the first one
    // (Open -> CloseAsked); the caller closes the boxes and closes later.
    bool AskClose();
    // The boxes have given way: the close follows now (CloseAsked -> Open);
    // true when the window is to be closed.
    bool CloseDue();
    // The native window was destroyed: true the first time.
    bool WindowDestroyed();
    // The shutdown begins (again: nothing changes).
    void BeginClose();

private:
    void Enter(State to);

    State state_ = State::Open;
};
