#pragma once

// The window's Busy flag for the length of a scope, so that no path out of
// it (an early return, an exception) leaves the window busy.
class TBusyGuard {
public:
    // An operator handler: takes the flag when it is clear and clears it at
    // the end. When it was set, the handler must do nothing: Entered() is
    // false and the flag is left alone.
    static TBusyGuard Enter(bool& busy) noexcept { return TBusyGuard(busy, !busy, false); }

    // A programmatic change of controls: the flag is set for the scope and
    // then goes back to what it was, so that no change handler reacts.
    static TBusyGuard Hold(bool& busy) noexcept { return TBusyGuard(busy, true, busy); }

    ~TBusyGuard()
    {
        if (owned_) {
            busy_ = after_;
        }
    }
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

    bool Entered() const noexcept { return owned_; }

    // Clears the flag before the scope ends (a handler that shows a box
    // with the window released); the end of the scope then changes nothing.
    void Release() noexcept
    {
        if (owned_) {
            busy_ = false;
            owned_ = false;
        }
    }

private:
    TBusyGuard(bool& busy, bool owned, bool after) noexcept
        : busy_(busy), owned_(owned), after_(after)
    {
        if (owned_) {
            busy_ = true;
        }
    }

    bool& busy_;
    bool owned_;
    bool after_;
};
