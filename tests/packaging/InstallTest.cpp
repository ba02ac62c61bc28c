#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/DesktopEntry.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

bool isElf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && magic[0] == 0x7f && std::string_view(magic + 1, 3) == "ELF";
}

// RUNPATH and RPATH entries of every ELF file under `folder` that the loader would take relative to the current
// folder: empty ones and those neither absolute nor starting with $ORIGIN, as "file: [entries]".
std::vector<std::string> unsafeLibraryPaths(const fs::path& folder)
{
    std::vector<std::string> unsafe;
    for (auto item = fs::recursive_directory_iterator(folder); item != fs::recursive_directory_iterator(); ++item) {
        if (item->path().filename() == "CMakeFiles") {
            item.disable_recursion_pending(); // the compiler checks' own programs
            continue;
        }
        if (!item->is_regular_file() || item->is_symlink() || !isElf(item->path()))
            continue;
        const auto dynamic = ChildProcess::run("/usr/bin/readelf", {{"readelf", "-d", item->path().string()}});
        EXPECT_EQ(dynamic.exitStatus, 0) << item->path();
        std::istringstream lines(dynamic.standardOutput);
        for (std::string line; std::getline(lines, line);) {
            const size_t open = line.find("path: [");
            if (open == std::string::npos)
                continue;
            const std::string list = line.substr(open + 7, line.rfind(']') - open - 7);
            std::istringstream entries(list + ":");
            for (std::string entry; std::getline(entries, entry, ':');) {
                if (entry.empty() || !(entry.starts_with('/') || entry.starts_with("$ORIGIN"))) {
                    unsafe.push_back(item->path().string() + ": [" + list + "]");
                    break;
                }
            }
        }
    }
    return unsafe;
}

} // namespace

TEST(Install, TheBuildAndTheInstallLayKorvelOutAsABundle)
{
    const fs::path built = KORVEL_BUILT_BUNDLE;
    const PlistDictionary plist = InfoPlistPatcher::read(AppBundle::infoPlist(built));
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleIdentifier"), "com.veldrane.Korvel");
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleExecutable"), "Korvel");
    EXPECT_EQ(plist.at("CFBundleURLTypes"),
        PlistValue(PlistArray {
            PlistDictionary {{"CFBundleURLName", "Claude link"}, {"CFBundleURLSchemes", PlistArray {"claude"}}}}));

    TempDir folder;
    const fs::path prefix = folder / "My $Pre\"fix 100%";
    const auto install =
        ChildProcess::run(KORVEL_CMAKE, {{"cmake", "--install", KORVEL_BINARY_DIR, "--prefix", prefix.string()}});
    ASSERT_EQ(install.exitStatus, 0) << install.standardError;

    // Everything of the built bundle, links as links; only the library's development link (.so) stays behind.
    const fs::path bundle = prefix / "lib" / "korvel" / "Korvel.app";
    for (const auto& item : fs::recursive_directory_iterator(built)) {
        if (item.path().extension() == ".so")
            continue;
        const auto installed = bundle / item.path().lexically_relative(built);
        const auto status = fs::symlink_status(installed);
        ASSERT_TRUE(fs::exists(status)) << installed;
        EXPECT_EQ(fs::is_symlink(status), item.is_symlink()) << installed;
        if (item.is_symlink() && fs::is_symlink(status)) {
            EXPECT_EQ(fs::read_symlink(installed), fs::read_symlink(item.path()));
        }
    }
    EXPECT_EQ(InfoPlistPatcher::read(AppBundle::infoPlist(bundle)), plist);

    EXPECT_EQ(unsafeLibraryPaths(bundle), std::vector<std::string> {});

    const auto executable = bundle / "Contents" / "MacOS" / "Korvel";
    EXPECT_EQ(fs::read_symlink(prefix / "bin" / "korvel"), "../lib/korvel/Korvel.app/Contents/MacOS/Korvel");
    EXPECT_EQ(AppBundle::containing(executable), bundle);

    // Under the name korvel the same program is the command line.
    const auto version = ChildProcess::run(prefix / "bin" / "korvel", {.arguments = {"korvel", "--version"}});
    EXPECT_EQ(version.exitStatus, 0) << version.standardError;
    EXPECT_EQ(version.standardOutput.rfind("korvel ", 0), 0u) << version.standardOutput;

    const auto entry = DesktopEntry::read(prefix / "share" / "applications" / "korvel.desktop");
    EXPECT_EQ(entry.value("Exec"), DesktopEntry::execLine({executable.string()}, "%u"));
    EXPECT_EQ(entry.value("MimeType"), "x-scheme-handler/claude;");
    EXPECT_EQ(entry.value("X-Korvel-Bundle"), bundle.string());

    // Where bash-completion looks for a command's completion when it is first completed.
    EXPECT_EQ(AtomicFile::read(prefix / "share/bash-completion/completions/korvel"),
        AtomicFile::read(KORVEL_SOURCE_DIR "/packaging/korvel.bash-completion"));
}

// An empty or relative entry would load libraries from whatever folder a program is started in.
TEST(Install, NoProgramOfTheBuildLooksForLibrariesInTheCurrentFolder)
{
    EXPECT_EQ(unsafeLibraryPaths(KORVEL_BINARY_DIR), std::vector<std::string> {});
}
