// ksn-test-x11: what a window manager or another client does to a window,
// for tests and trials under a virtual X display.
//   ksn-test-x11 close WINDOW            a close request (WM_DELETE_WINDOW)
//   ksn-test-x11 destroy WINDOW          destroys the window behind its client's back
// WINDOW is a window id, decimal or 0x hexadecimal.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    if (reply == nullptr) {
        return XCB_ATOM_NONE;
    }
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

void SendProtocolMessage(xcb_connection_t* c, xcb_window_t window, xcb_atom_t protocol,
                         std::uint32_t time)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(c, "WM_PROTOCOLS");
    event.data.data32[0] = protocol;
    event.data.data32[1] = time;
    event.data.data32[2] = window;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

int Usage()
{
    std::fprintf(stderr, "usage: ksn-test-x11 close|destroy WINDOW\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    const auto window = static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0));
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        std::fprintf(stderr, "ksn-test-x11: no X display\n");
        return 1;
    }
    int result = 0;
    if (command == "close") {
        SendProtocolMessage(c, window, Atom(c, "WM_DELETE_WINDOW"), XCB_CURRENT_TIME);
    } else if (command == "destroy") {
        xcb_destroy_window(c, window);
    } else {
        result = Usage();
    }
    xcb_flush(c);
    // A round trip: the request has reached the server before we go.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return result;
}
