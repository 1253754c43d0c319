#include "WindowSystemWatch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr) {
        return XCB_ATOM_NONE;
    }
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// Runs what follows an event after Qt has finished with the event, unless
// the window has gone by then.
void Later(QWidget* window, const std::function<void()>& action)
{
    if (action && window != nullptr) {
        QTimer::singleShot(0, window, action);
    }
}

}  // namespace

TWindowSystemWatch::TWindowSystemWatch(QWidget& window, std::function<void()> blockedCloseRequest,
                                       std::function<void()> destroyed)
    : window_(&window), blockedCloseRequest_(std::move(blockedCloseRequest)),
      destroyed_(std::move(destroyed))
{
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    protocolsAtom_ = InternAtom(x11->connection(), "WM_PROTOCOLS");
    deleteWindowAtom_ = InternAtom(x11->connection(), "WM_DELETE_WINDOW");
    qApp->installNativeEventFilter(this);
    installed_ = true;
}

TWindowSystemWatch::~TWindowSystemWatch()
{
    if (installed_ && qApp != nullptr) {
        qApp->removeNativeEventFilter(this);
    }
}

bool TWindowSystemWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || window_ == nullptr) {
        return false;
    }
    const QWindow* handle = window_->windowHandle();
    if (handle == nullptr || !handle->handle()) {
        return false;  // no native window yet
    }
    const auto native = static_cast<xcb_window_t>(handle->winId());
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7F) {
    case XCB_CLIENT_MESSAGE: {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        const QWindow* modal = QGuiApplication::modalWindow();
        if (client->window == native && client->format == 32 && client->type == protocolsAtom_ &&
            client->data.data32[0] == deleteWindowAtom_ && modal != nullptr && modal != handle) {
            Later(window_, blockedCloseRequest_);
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (destroyed->window == native) {
            Later(window_, destroyed_);
        }
        break;
    }
    default:
        break;
    }
    return false;
}
