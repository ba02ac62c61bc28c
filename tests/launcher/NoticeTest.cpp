#include "launcher/Notice.hpp"
#include "tests/launcher/FakeNotificationServer.hpp"
#include "tests/launcher/PrivateBus.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <glib.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace korvel::launcher;
using namespace korvel::test;

namespace {

// GLib's own parser reads the literal back, as gdbus does.
std::optional<std::string> parsedString(const std::string& literal)
{
    GError* error = nullptr;
    GVariant* value = g_variant_parse(G_VARIANT_TYPE_STRING, literal.c_str(), nullptr, nullptr, &error);
    if (!value) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::string text = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    return text;
}

TEST(NoticeTest, StringLiteralsReadBackExactly)
{
    for (const std::string text : {"", "Korvel", "it's", "a \\ backslash", "\"double\" and 'single'",
             "two\n\nlines\tand\ra\x01 control", "“Rebuild App” — ·", "trailing \\", "'", "%s %d {} [] @as <b>"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parsedString(Notice::variantString(text)), text);
    }
}

TEST(NoticeTest, CommandCarriesEveryNotifyArgumentWithItsType)
{
    const auto command = Notice::notifyCommand("Something failed at /a 'quoted' path");
    ASSERT_EQ(command.size(), 17u);
    EXPECT_EQ(command[0], "/usr/bin/gdbus");
    // Without introspection gdbus parses each value untyped; the values alone must make Notify's signature.
    std::string signature;
    for (size_t index = 9; index < command.size(); ++index) {
        GError* error = nullptr;
        GVariant* value = g_variant_parse(nullptr, command[index].c_str(), nullptr, nullptr, &error);
        ASSERT_TRUE(value) << command[index] << ": " << (error ? error->message : "");
        signature += g_variant_get_type_string(value);
        g_variant_unref(value);
    }
    EXPECT_EQ(signature, "susssasa{sv}i");
    EXPECT_EQ(parsedString(command[13]),
        "Something failed at /a 'quoted' path\n\nOpen Korvel and choose \u201CRebuild App\u201D for this profile.");
}

// The whole path: a failing launcher posts the notice through the session bus and does not wait for it.
TEST(NoticeTest, FailingLauncherPostsTheNoticeWithoutWaiting)
{
    if (!PrivateBus::available() || ::access(Notice::gdbusPath, X_OK) != 0)
        GTEST_SKIP() << "needs dbus-daemon and gdbus";
    TempDir temp;
    PrivateBus bus(temp.path());
    FakeNotificationServer server(bus.address());
    const fs::path bundle = temp / "Claude Work.app";
    fs::rename(StandInClaude::create(temp.path()), bundle);
    // A path that needs quoting: the parent is a regular file, so the folder cannot be made.
    const fs::path blocker = temp / "it's a \\ “file”";
    writeText(blocker, "not a folder");
    const std::string dataDir = (blocker / "Data").string();
    StandInClaude::installLauncher(bundle, KORVEL_LAUNCHER_PATH, dataDir);

    const auto result = ChildProcess::run(bundle / "Contents" / "MacOS" / "KorvelLauncher",
        {.environment = {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"HOME", temp.path().string()}}});

    const std::string message = "Could not create the profile data folder at " + dataDir + ": Not a directory";
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, "KorvelLauncher: " + message + "\n");
    // The server holds its reply back: a launcher that waited would still be running.
    EXPECT_LT(result.seconds, 1.0);
    const auto notice = server.next(std::chrono::seconds(20));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->appName, "Korvel");
    EXPECT_EQ(notice->replacesId, 0u);
    EXPECT_EQ(notice->appIcon, "");
    EXPECT_EQ(notice->summary, "Korvel");
    EXPECT_EQ(notice->body, message + "\n\nOpen Korvel and choose \u201CRebuild App\u201D for this profile.");
    EXPECT_EQ(notice->actions, (std::vector<std::string> {"ok", "OK"}));
    EXPECT_EQ(notice->hintCount, 0u);
    EXPECT_EQ(notice->expireTimeout, 0);
}

} // namespace
