#pragma once

// What the tests' small X clients share: a connection to $DISPLAY and its default screen.

#include <xcb/xcb.h>

namespace korvel::test {

// The default screen of a new connection to $DISPLAY; nullptr (and `connection` broken) when there is none.
inline xcb_screen_t* connectToScreen(xcb_connection_t*& connection)
{
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        return nullptr;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    return screens.data;
}

} // namespace korvel::test
