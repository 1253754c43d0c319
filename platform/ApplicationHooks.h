#pragma once

#include <functional>

// Application-wide hooks of the main window: a shortcut handler that sees
// every key press before the focused control, and handlers for the
// application becoming active or inactive. One handler of each kind; setting
// one replaces the previous. GUI thread only; needs a QApplication.
namespace ApplicationHooks {

// Gets the Qt key code; returns true when the key is handled, which keeps it
// from the focused control.
using ShortCutHandler = std::function<bool(int key)>;
using Notify = std::function<void()>;

void SetShortCut(ShortCutHandler handler);
ShortCutHandler ShortCut();
void SetActivate(Notify handler);
void SetDeactivate(Notify handler);

// Detaches the shortcut handler for its lifetime (modal thread dialogs). It
// is put back only if nobody set another meanwhile.
class ShortCutDetached {
public:
    ShortCutDetached();
    ~ShortCutDetached();
    ShortCutDetached(const ShortCutDetached&) = delete;
    ShortCutDetached& operator=(const ShortCutDetached&) = delete;

private:
    ShortCutHandler saved_;
    unsigned generation_;
};

}  // namespace ApplicationHooks
