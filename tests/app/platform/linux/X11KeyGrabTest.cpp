#include "app/platform/linux/X11KeyGrab.hpp"
#include "tests/app/platform/linux/XcbScreen.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/Thrown.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

constexpr std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

// Keys pressed for real (XTEST, through xdotool) on a headless X server of the test's own, and a second X client
// that holds or tries combinations as another program would.
class X11KeyGrabTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/xdotool", X_OK) != 0)
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        server = std::make_unique<BackgroundProcess>("/usr/bin/Xvfb",
            BackgroundProcess::Options {{"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"}});
        display.set(
            "DISPLAY", ":" + server->waitForLine([](const std::string& line) { return !line.empty(); }).value());
        screen = connectToScreen(other);
        ASSERT_NE(screen, nullptr);
        grab = X11KeyGrab::connect();
        ASSERT_NE(grab, nullptr);
        grab->setActivationHandler([this] { ++presses; });
    }

    void TearDown() override
    {
        grab.reset();
        if (other)
            xcb_disconnect(other);
    }

    static void xdotool(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command {"xdotool"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        ASSERT_EQ(ChildProcess::run("/usr/bin/xdotool", {.arguments = command}, 10s).exitStatus, 0);
    }

    // Presses and releases the combination: how often the shortcut fired. The events get a while to arrive, a
    // short one when none is expected.
    int pressed(const std::string& keys, bool expected = true)
    {
        const int before = presses;
        xdotool({"key", keys});
        waitUntil([&] { return presses > before; }, expected ? 3s : 300ms);
        spin(50ms);
        return presses - before;
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym)
    {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(other);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return code;
    }

    // Whether the other client could grab the key with exactly these modifiers; it lets the grab go again.
    bool otherCanGrab(xcb_keysym_t keysym, std::uint16_t modifiers)
    {
        const xcb_keycode_t code = keycode(keysym);
        xcb_generic_error_t* error = xcb_request_check(other,
            xcb_grab_key_checked(other, 1, screen->root, modifiers, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        xcb_ungrab_key(other, code, screen->root, modifiers);
        xcb_flush(other);
        return error == nullptr;
    }

    std::uint16_t lockedModifiers()
    {
        xcb_query_pointer_reply_t* reply =
            xcb_query_pointer_reply(other, xcb_query_pointer(other, screen->root), nullptr);
        const std::uint16_t mask = reply ? reply->mask & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2) : 0;
        std::free(reply);
        return mask;
    }

    std::unique_ptr<BackgroundProcess> server;
    ScopedEnvironment display;
    xcb_connection_t* other = nullptr;
    xcb_screen_t* screen = nullptr;
    std::unique_ptr<X11KeyGrab> grab;
    int presses = 0;
};

TEST_F(X11KeyGrabTest, EachPressFiresOnceWhateverLockIsOnAndAHeldKeyOnlyOnce)
{
    await(grab->bind("Ctrl+Alt+K"));
    EXPECT_TRUE(grab->isAvailable());
    struct Case
    {
        std::vector<std::string> locks;
        std::uint16_t mask;
    };
    for (const Case& c : {Case {{}, 0}, Case {{"Caps_Lock"}, XCB_MOD_MASK_LOCK}, Case {{"Num_Lock"}, XCB_MOD_MASK_2},
             Case {{"Caps_Lock", "Num_Lock"}, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2}}) {
        for (const auto& lock : c.locks)
            xdotool({"key", lock});
        ASSERT_EQ(lockedModifiers(), c.mask);
        EXPECT_EQ(pressed("ctrl+alt+k"), 1) << c.mask;
        for (const auto& lock : c.locks)
            xdotool({"key", lock});
    }
    EXPECT_EQ(pressed("ctrl+k", false), 0);
    // Held past the keyboard's repeat delay: the server repeats the key, the shortcut fires once.
    xdotool({"keydown", "ctrl+alt+k"});
    spin(900ms);
    xdotool({"keyup", "ctrl+alt+k"});
    spin(100ms);
    EXPECT_EQ(presses, 5);
}

TEST_F(X11KeyGrabTest, ACombinationAnotherProgramHoldsIsReportedAndNothingStaysGrabbed)
{
    const xcb_keycode_t j = keycode('j');
    ASSERT_EQ(
        xcb_request_check(other,
            xcb_grab_key_checked(other, 1, screen->root, controlAlt, j, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
        nullptr);
    await(grab->bind("Ctrl+Alt+K"));
    EXPECT_FALSE(otherCanGrab('k', controlAlt | XCB_MOD_MASK_2));

    EXPECT_THAT(thrown<std::runtime_error>([&] { await(grab->bind("Ctrl+Alt+J")); }).what(),
        HasSubstr("Ctrl+Alt+J is already used by another program"));
    // Neither the previous combination nor the lock variants that were free stay grabbed.
    EXPECT_TRUE(otherCanGrab('j', controlAlt | XCB_MOD_MASK_LOCK));
    EXPECT_TRUE(otherCanGrab('k', controlAlt | XCB_MOD_MASK_2));
    EXPECT_EQ(pressed("ctrl+alt+k", false), 0);

    // Bound again, then unbound; and let go when it goes.
    await(grab->bind("Ctrl+Alt+K"));
    EXPECT_EQ(pressed("ctrl+alt+k"), 1);
    await(grab->bind(""));
    EXPECT_EQ(pressed("ctrl+alt+k", false), 0);
    EXPECT_TRUE(otherCanGrab('k', controlAlt));
    await(grab->bind("Ctrl+Alt+K"));
    grab.reset();
    EXPECT_TRUE(otherCanGrab('k', controlAlt | XCB_MOD_MASK_LOCK));
}

} // namespace
