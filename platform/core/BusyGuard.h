#pragma once

// The window's Busy flag for the length of a scope, so that no path out of
// it (an early return, an exception) leaves the window busy, and a scope
// nested in another leaves the flag as it found it. The flag is a bool, or
// one that an owner keeps behind Busy() and SetBusy(bool) (the settings'
// view of the window).
class TBusyGuard {
public:
    // An operator handler: takes the flag when it is clear and clears it at
    // the end. When it was set, the handler must do nothing: Entered() is
    // false and the flag is left alone.
    static TBusyGuard Enter(bool& busy) noexcept
    {
        return TBusyGuard(&busy, &SetFlag, !busy, false);
    }

    // A programmatic change of controls: the flag is set for the scope and
    // then goes back to what it was, so that no change handler reacts.
    static TBusyGuard Hold(bool& busy) noexcept { return TBusyGuard(&busy, &SetFlag, true, busy); }

    template <class Owner>
    static TBusyGuard Enter(Owner& owner)
    {
        return TBusyGuard(&owner, &SetOwned<Owner>, !owner.Busy(), false);
    }

    template <class Owner>
    static TBusyGuard Hold(Owner& owner)
    {
        return TBusyGuard(&owner, &SetOwned<Owner>, true, owner.Busy());
    }

    ~TBusyGuard()
    {
        if (owned_) {
            set_(flag_, after_);
        }
    }
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

    bool Entered() const noexcept { return owned_; }

    // Clears the flag before the scope ends (a handler that shows a box
    // with the window released); the end of the scope then changes nothing.
    void Release()
    {
        if (owned_) {
            set_(flag_, false);
            owned_ = false;
        }
    }

private:
    using Setter = void (*)(void* flag, bool busy);

    static void SetFlag(void* flag, bool busy) { *static_cast<bool*>(flag) = busy; }

    template <class Owner>
    static void SetOwned(void* owner, bool busy)
    {
        static_cast<Owner*>(owner)->SetBusy(busy);
    }

    TBusyGuard(void* flag, Setter set, bool owned, bool after)
        : flag_(flag), set_(set), owned_(owned), after_(after)
    {
        if (owned_) {
            set_(flag_, true);
        }
    }

    void* flag_;
    Setter set_;
    bool owned_;
    bool after_;
};
