// A tiny X11 client for the tests: one top-level window that names its process in _NET_WM_PID, like the
// windows of real applications do, and takes the focus when activated; with the argument "iconic" it starts
// minimised. Prints "window <id>" once it has asked for the
// window to be shown; runs until killed.

#include "tests/app/platform/linux/XcbScreen.hpp"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

int main(int argc, char** argv)
{
    xcb_connection_t* connection = nullptr;
    const xcb_screen_t* screen = korvel::test::connectToScreen(connection);
    if (!screen)
        return 1;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 240, 120, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);

    xcb_intern_atom_reply_t* pidAtom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 11, "_NET_WM_PID"), nullptr);
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, pidAtom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
    std::free(pidAtom);
    // WM_HINTS: the input hint, and the initial state when asked for
    const bool iconic = argc > 1 && std::string_view(argv[1]) == "iconic";
    const uint32_t hints[9] = {iconic ? 3U : 1U, 1, 3}; // IconicState
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_map_window(connection, window);
    xcb_flush(connection);

    std::printf("window %u\n", window);
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection))
        std::free(event);
    return 0;
}
