#pragma once

#include <QEvent>

#include <cstdint>

class QObject;

// Window messages of the program's own, posted to a window and handled later
// on the GUI thread by the window's Dispatch.
inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_START_INIT_THREAD = WM_USER + 100;
inline constexpr unsigned WM_START_MAIN_THREAD = WM_USER + 101;

struct TMessage {
    unsigned Msg = 0;
    std::intptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// The event that carries a TMessage through the window's event queue.
class WindowMessageEvent : public QEvent {
public:
    explicit WindowMessageEvent(const TMessage& message);
    static QEvent::Type EventType();
    const TMessage& Message() const noexcept { return message_; }
    TMessage& Message() noexcept { return message_; }

private:
    TMessage message_;
};

// Posts the message to window; safe from any thread. Returns false when
// there is no window.
bool PostMessage(QObject* window, unsigned msg, std::intptr_t wParam, std::intptr_t lParam);
