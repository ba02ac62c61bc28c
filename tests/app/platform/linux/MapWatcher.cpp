// Another X11 client, as a dock or task bar is: it watches every new top-level window and, the moment the window
// is mapped, prints "mapped <pid> <WM_CLASS instance>" once for each window that names its process. Runs until
// killed.

#include "tests/app/platform/linux/XcbScreen.hpp"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t {XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

std::string property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, name, type, 0, 256), nullptr);
    if (!reply)
        return {};
    std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
        static_cast<size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return value;
}

} // namespace

int main()
{
    xcb_connection_t* connection = nullptr;
    const xcb_screen_t* screen = korvel::test::connectToScreen(connection);
    if (!screen)
        return 1;
    const xcb_window_t root = screen->root;
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootMask);
    xcb_flush(connection);
    std::set<std::pair<xcb_window_t, uint32_t>> reported;
    std::printf("watching\n");
    std::fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const auto type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            // The client window's own MapNotify: a window manager maps its frame as root's child.
            const auto* created = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(connection, created->window, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(connection);
        } else if (type == XCB_MAP_NOTIFY) {
            // The client's own MapNotify when the selection came in time, else its frame's: a window manager maps
            // the client into its frame, then the frame.
            const auto* mapped = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            std::vector<xcb_window_t> windows {mapped->window};
            if (mapped->event == root) {
                xcb_query_tree_reply_t* tree =
                    xcb_query_tree_reply(connection, xcb_query_tree(connection, mapped->window), nullptr);
                if (tree) {
                    const xcb_window_t* children = xcb_query_tree_children(tree);
                    windows.assign(children, children + xcb_query_tree_children_length(tree));
                    std::free(tree);
                }
            }
            for (const xcb_window_t window : windows) {
                const std::string pid = property(connection, window, pidAtom, XCB_ATOM_CARDINAL);
                if (pid.size() != 4)
                    continue;
                uint32_t value = 0;
                std::memcpy(&value, pid.data(), 4);
                if (!reported.insert({window, value}).second)
                    continue; // the server hands a later client the same window ids: the pair tells them apart
                const std::string windowClass = property(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
                std::printf("mapped %u %s\n", value, windowClass.c_str()); // the instance name ends at its NUL
                std::fflush(stdout);
            }
        }
        std::free(event);
    }
    return 0;
}
