#include "core/support/DesktopEntry.hpp"
#include "core/support/FileError.hpp"
#include "core/support/XdgFolders.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;

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

TEST(DesktopEntry, ParsingKeepsOnlyTheMainGroupAndItsPlainKeys)
{
    const DesktopEntry entry = DesktopEntry::parse(
        "# comment\n[Desktop Action New]\nName=Not this\n[Desktop Entry]\r\n"
        "Name = Korvel \r\nName[de]=Korvel auf Deutsch\nName=Second\nExec=odd \\q escape\nno equals sign\n"
        "Hidden=true\n[Other]\nHidden=false\n");
    EXPECT_EQ(entry.value("Name"), "Korvel");
    EXPECT_EQ(entry.value("Exec"), "odd \\q escape");
    EXPECT_EQ(entry.value("Hidden"), "true");
    EXPECT_EQ(entry.value("Name[de]"), std::nullopt);
    EXPECT_EQ(entry.entries().size(), 3U);
}

TEST(DesktopEntry, ExecLinesQuoteArgumentsSoThatTheyComeBackUnchanged)
{
    EXPECT_EQ(DesktopEntry::execLine({"/opt/Korvel.app/Contents/MacOS/Korvel"}, "%u"),
        "/opt/Korvel.app/Contents/MacOS/Korvel %u");
    EXPECT_EQ(DesktopEntry::execLine({"/a b/c"}), "\"/a b/c\"");
    EXPECT_EQ(DesktopEntry::execLine({"100%"}), "100%%");
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
