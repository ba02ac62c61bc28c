// A tiny X11 client for the tests: one top-level window that names its process in _NET_WM_PID, like the
// windows of real applications do. Prints "window <id>" once the window is mapped; runs until killed.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        return 1;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_screen_t* screen = screens.data;

    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 240, 120, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

    const uint32_t pid = static_cast<uint32_t>(::getpid());
    xcb_change_property(
        connection, XCB_PROP_MODE_REPLACE, window, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    const char* title = argc > 1 ? argv[1] : "Korvel test window";
    xcb_change_property(
        connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, std::strlen(title), title);
    // WM_HINTS with the input hint set: the window takes the focus when activated.
    const uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_map_window(connection, window);
    xcb_flush(connection);

    bool announced = false;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if (!announced && (event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            std::printf("window %u\n", window);
            std::fflush(stdout);
            announced = true;
        }
        std::free(event);
    }
    return 0;
}
