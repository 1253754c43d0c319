#include "WindowMessages.h"

#include <QCoreApplication>

WindowMessageEvent::WindowMessageEvent(const TMessage& message)
    : QEvent(EventType()), message_(message)
{}

QEvent::Type WindowMessageEvent::EventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool PostMessage(QObject* window, unsigned msg, std::intptr_t wParam, std::intptr_t lParam)
{
    if (window == nullptr) {
        return false;
    }
    TMessage message;
    message.Msg = msg;
    message.WParam = wParam;
    message.LParam = lParam;
    QCoreApplication::postEvent(window, new WindowMessageEvent(message));
    return true;
}
