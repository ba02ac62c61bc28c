#include "app/platform/linux/X11KeyGrab.hpp"

#include "app/platform/linux/KeyCombination.hpp"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdlib>
#include <stdexcept>

namespace korvel {
namespace {

// Caps Lock and Num Lock (Mod2 on every common keymap) are modifiers to X: a grab without them misses every press
// made while either is on.
constexpr std::array<std::uint16_t, 4> lockVariants {
    0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint8_t badAccess = 10;

std::uint16_t modifiersOf(const KeyCombination& combination)
{
    return static_cast<std::uint16_t>((combination.shift ? XCB_MOD_MASK_SHIFT : 0) |
        (combination.control ? XCB_MOD_MASK_CONTROL : 0) | (combination.alt ? XCB_MOD_MASK_1 : 0) |
        (combination.meta ? XCB_MOD_MASK_4 : 0));
}

// The first keycode of the current keymap that gives `keysym`; 0 when none does.
std::uint8_t keycodeOf(xcb_connection_t* connection, std::uint32_t keysym)
{
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return 0;
    xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(symbols, keysym);
    const std::uint8_t keycode = keycodes ? keycodes[0] : 0;
    std::free(keycodes);
    xcb_key_symbols_free(symbols);
    return keycode;
}

} // namespace

std::unique_ptr<X11KeyGrab> X11KeyGrab::connect()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (xcb_connection_has_error(connection) || !screens.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11KeyGrab>(new X11KeyGrab(connection, screens.data->root));
}

X11KeyGrab::X11KeyGrab(xcb_connection_t* connection, std::uint32_t root)
    : m_connection(connection)
    , m_root(root)
{
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &X11KeyGrab::readEvents);
}

X11KeyGrab::~X11KeyGrab()
{
    ungrab();
    xcb_disconnect(m_connection);
}

bool X11KeyGrab::isAvailable() const
{
    return xcb_connection_has_error(m_connection) == 0;
}

QCoro::Task<> X11KeyGrab::bind(std::string keys)
{
    ungrab();
    if (keys.empty())
        co_return;
    const KeyCombination combination = KeyCombination::parse(keys);
    if (!isAvailable())
        throw std::runtime_error("The connection to the X server is lost.");
    const Grab wanted {keycodeOf(m_connection, combination.keysym), modifiersOf(combination)};
    if (wanted.keycode == 0)
        throw std::runtime_error("The keyboard layout has no key for " + keys + ".");
    const std::uint8_t error = grab(wanted);
    if (error == badAccess)
        throw std::runtime_error(keys + " is already used by another program.");
    if (error)
        throw std::runtime_error("The X server refused " + keys + " as a global shortcut.");
    m_grab = wanted;
    m_releaseTime = 0;
}

std::uint8_t X11KeyGrab::grab(const Grab& grab)
{
    std::array<xcb_void_cookie_t, lockVariants.size()> cookies {};
    for (size_t i = 0; i < lockVariants.size(); ++i)
        cookies[i] = xcb_grab_key_checked(m_connection, 1, m_root, grab.modifiers | lockVariants[i], grab.keycode,
            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    std::uint8_t code = 0;
    for (const xcb_void_cookie_t cookie : cookies) {
        xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
        if (error && code == 0)
            code = error->error_code;
        std::free(error);
    }
    if (code != 0)
        for (const std::uint16_t locks : lockVariants)
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | locks);
    xcb_flush(m_connection);
    // Events that came while we waited for the replies sit in xcb's queue, unseen by the socket notifier.
    QTimer::singleShot(0, this, &X11KeyGrab::readEvents);
    return code;
}

void X11KeyGrab::ungrab()
{
    if (!m_grab)
        return;
    for (const std::uint16_t locks : lockVariants)
        xcb_ungrab_key(m_connection, m_grab->keycode, m_root, m_grab->modifiers | locks);
    xcb_flush(m_connection);
    m_grab.reset();
}

void X11KeyGrab::readEvents()
{
    int presses = 0;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        const auto type = event->response_type & 0x7f;
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (m_grab && (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) && key->detail == m_grab->keycode) {
            // A held key repeats as release and press with the same time: only the first press counts.
            if (type == XCB_KEY_RELEASE)
                m_releaseTime = key->time;
            else if (key->time != m_releaseTime)
                ++presses;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
    for (; presses > 0 && m_handler; --presses)
        m_handler();
}

} // namespace korvel
