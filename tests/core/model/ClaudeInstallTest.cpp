#include "core/model/ClaudeInstall.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

using Places = std::vector<fs::path>;

std::string described(const std::optional<ClaudeInstall>& install)
{
    if (!install)
        return "nothing";
    return (install->kind == ClaudeInstall::Kind::Bundle ? "bundle " : "linux ") + install->location.string() +
        " running " + install->executable.string();
}

// The package installed somewhere else, its program a link to Electron's binary as some packages lay it out, and
// found on PATH through another link.
struct Installed
{
    TempDir dir;
    fs::path folder = fs::canonical(dir.path()) / "opt/claude";
    fs::path electron = folder / "electron";
    fs::path onPath = dir / "bin/claude-desktop";

    Installed()
    {
        writeExecutable(electron, "#!/bin/sh\n");
        writeText(folder / "resources/app.asar", "");
        fs::create_symlink("electron", folder / "claude-desktop");
        fs::create_directories(onPath.parent_path());
        fs::create_symlink(folder / "claude-desktop", onPath);
    }
};

TEST(ClaudeInstall, IsSearchedInThePackagesFolderBeforePathAndMacOSLast)
{
    const Installed installed;
    ScopedEnvironment env("KORVEL_CLAUDE_APP", std::nullopt);
    env.set("PATH", "/nowhere:" + installed.onPath.parent_path().string());
    EXPECT_EQ(ClaudeInstall::searchPlaces(),
        (Places {"/usr/lib/claude-desktop", installed.electron, "/Applications/Claude.app"}))
        << "the program on PATH, links resolved";
    if (!ClaudeInstall::at(ClaudeInstall::linuxPackageFolder)) {
        EXPECT_EQ(ClaudeInstall::find(), installed.folder);
    }

    env.set("PATH", "/nowhere");
    EXPECT_EQ(ClaudeInstall::searchPlaces(), (Places {"/usr/lib/claude-desktop", "/Applications/Claude.app"}));

    env.set("PATH", installed.onPath.parent_path().string());
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    EXPECT_EQ(ClaudeInstall::searchPlaces(), Places {"/opt/Claude.app"}) << "the variable alone when it is set";
    EXPECT_EQ(ClaudeInstall::find(), "/opt/Claude.app") << "where it was looked for, although PATH has one";
    env.set("KORVEL_CLAUDE_APP", installed.onPath.string());
    EXPECT_EQ(ClaudeInstall::find(), installed.folder);
}

TEST(ClaudeInstall, TellsABundleFromALinuxInstallAndResolvesItsLinks)
{
    const Installed installed;
    const fs::path& dir = installed.dir.path();
    const fs::path bundle = fs::canonical(dir) / "Claude.app";
    writeText(bundle / "Contents/Info.plist", "");
    fs::create_directory_symlink(bundle, dir / "Link.app");
    writeExecutable(dir / "tools/other", "#!/bin/sh\n");
    writeText(dir / "plain/claude-desktop", "#!/bin/sh\n"); // not executable
    fs::create_directories(dir / "empty");
    const std::string linux = "linux " + installed.folder.string() + " running " + installed.electron.string();

    const std::vector<std::pair<fs::path, std::string>> cases = {
        {bundle, "bundle " + bundle.string() + " running " + (bundle / "Contents/MacOS/Claude").string()},
        {dir / "Link.app", "bundle " + bundle.string() + " running " + (bundle / "Contents/MacOS/Claude").string()},
        {installed.folder, linux},
        {installed.folder / "claude-desktop", linux},
        {installed.onPath, linux},
        {installed.electron, linux}, // an Electron program beside its resources
        {dir / "tools/other", "nothing"},
        {dir / "plain", "nothing"},
        {dir / "plain/claude-desktop", "nothing"},
        {dir / "empty", "nothing"},
        {dir / "missing", "nothing"},
    };
    for (const auto& [place, install] : cases)
        EXPECT_EQ(described(ClaudeInstall::at(place)), install) << place;
}

} // namespace
