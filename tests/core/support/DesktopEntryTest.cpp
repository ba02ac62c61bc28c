#include "core/support/DesktopEntry.hpp"
#include "core/support/FileError.hpp"
#include "core/support/XdgFolders.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

TEST(DesktopEntry, ValuesAreEscapedOnTheWayOutAndBackOnTheWayIn)
{
    DesktopEntry entry;
    entry.set("Name", "Claude Work");
    entry.set("Comment", " lead\\ing\nline\ttab trail ");
    entry.set("Name", "Claude Personal"); // keeps its place
    EXPECT_EQ(entry.format(), "[Desktop Entry]\nName=Claude Personal\nComment=\\slead\\\\ing\\nline\\ttab trail\\s\n");
    EXPECT_EQ(DesktopEntry::parse(entry.format()).entries(), entry.entries());

    // Files are written with their folder and read back.
    TempDir folder;
    const auto file = folder / "applications/nested/k.desktop";
    entry.write(file);
    EXPECT_EQ(DesktopEntry::read(file).entries(), entry.entries());
    EXPECT_THROW(DesktopEntry::read(folder / "missing.desktop"), FileError);
    writeText(folder / "file", "");
    EXPECT_THROW(entry.write(folder / "file/k.desktop"), FileError);
}

TEST(DesktopEntry, ParsingKeepsOnlyTheMainGroupWithItsLocalisedKeys)
{
    const DesktopEntry entry = DesktopEntry::parse(
        "# comment\n[Desktop Action New]\nName=Not this\n[Desktop Entry]\r\n"
        "Name = Korvel \r\nName[de]=Korvel auf Deutsch\nName=Second\nExec=odd \\q escape\nno equals sign\n"
        "Hidden=true\n[Other]\nHidden=false\n");
    EXPECT_EQ(entry.value("Name"), "Korvel");
    EXPECT_EQ(entry.value("Exec"), "odd \\q escape");
    EXPECT_EQ(entry.value("Hidden"), "true");
    EXPECT_EQ(entry.value("Name[de]"), "Korvel auf Deutsch") << "kept: an entry that stands in for another says it all";
    EXPECT_EQ(entry.entries().size(), 4U);
}

TEST(DesktopEntry, ExecLinesQuoteArgumentsSoThatTheyComeBackUnchanged)
{
    EXPECT_EQ(DesktopEntry::execLine({"/opt/Korvel.app/Contents/MacOS/Korvel"}, "%u"),
        "/opt/Korvel.app/Contents/MacOS/Korvel %u");
    EXPECT_EQ(DesktopEntry::execLine({"/a b/c"}), "\"/a b/c\"");
    EXPECT_EQ(DesktopEntry::execLine({"/bin/echo", "100%"}), "/bin/echo 100%%");
    EXPECT_EQ(DesktopEntry::execLine({""}), "\"\"");

    // Inside double quotes the desktop's rules are the shell's: sh reads the words back.
    const std::vector<std::string> arguments = {
        "/Users/me/It's \"Korvel\" $HOME/`id`/back\\slash/Korvel", "plain", "a;b|c&d<e>f~g*h?i#j(k)l"};
    std::string expected;
    for (const auto& argument : arguments)
        expected += argument + '\0';
    const auto sh = ChildProcess::run("/bin/sh", {{"sh", "-c", "printf '%s\\0' " + DesktopEntry::execLine(arguments)}});
    EXPECT_EQ(sh.standardOutput, expected);
}

// A profile's name becomes its app's name and folder, so its entry names both. GLib, which the desktop and
// Korvel's link handling read entries with, must load the entry with the name intact and start the very program.
TEST(DesktopEntry, GLibLoadsAndStartsEntriesForEveryName)
{
    const std::vector<std::string> names = {"100% Work", "Work %U %f", "%%", "a\"b'c", "back\\slash \\n",
        "$HOME `id` $(id)", "new\nline", " lead", "trail ", "tab\there", "semi;colon=equals", "[Group] #hash",
        "esc\x1b[31m bell\a", "Straße 🚀", "-dash", "~tilde*?<>|&"};
    TempDir folder;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto program = writeExecutable(folder / (name + ".app") / "Contents/MacOS/Claude",
            "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$0.record.part\" && mv \"$0.record.part\" \"$0.record\"\n");
        DesktopEntry entry;
        entry.set("Type", "Application");
        entry.set("Name", name);
        entry.set("Exec", DesktopEntry::execLine({program.string()}, "%U"));
        entry.write(folder / "entry.desktop");

        g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new_from_filename((folder / "entry.desktop").c_str());
        ASSERT_NE(info, nullptr) << readText(folder / "entry.desktop");
        EXPECT_EQ(g_app_info_get_name(G_APP_INFO(info)), name);
        GList* links = g_list_append(nullptr, const_cast<char*>("claude://a%20b"));
        g_autoptr(GError) error = nullptr;
        EXPECT_TRUE(g_app_info_launch_uris(G_APP_INFO(info), links, nullptr, &error)) << error->message;
        g_list_free(links);
        const fs::path record = program.string() + ".record";
        for (int wait = 0; wait < 400 && !fs::exists(record); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(
            fs::exists(record) ? readText(record) : "not started", program.string() + '\0' + "claude://a%20b" + '\0');
        fs::remove_all(folder / (name + ".app"));
    }
}

// The data and configuration homes are pinned through AppPaths::live.
TEST(XdgFolders, RuntimeDirOnlyWhenSetToAnAbsolutePath)
{
    ScopedEnvironment environment("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(XdgFolders::runtimeDir(), std::nullopt);
    environment.set("XDG_RUNTIME_DIR", "relative/run");
    EXPECT_EQ(XdgFolders::runtimeDir(), std::nullopt);
    environment.set("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(XdgFolders::runtimeDir(), "/run/user/1000");
}
