#include "core/system/InstalledApplications.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

// A file of `size` bytes that takes no room on disk.
void writeSparse(const fs::path& file, std::uintmax_t size)
{
    writeText(file, "");
    fs::resize_file(file, size);
}

} // namespace

TEST(InstalledApplications, TheInstallsIconComesOnlyFromIconFoldersAndWithinTheSizeCap)
{
    TempDir dir;
    const fs::path share = dir / "share";
    ScopedEnvironment env("XDG_DATA_DIRS", share.string());
    env.set("XDG_DATA_HOME", (dir / "home").string());
    const fs::path theme = share / "icons/hicolor";
    writeText(theme / "256x256/apps/claude.png", "png");
    writeSparse(theme / "512x512/apps/claude.png", InstalledApplications::maxIconFileSize + 1);
    writeText(dir / "home/pixmaps/own.svg", "svg");
    writeText(share / "icons/notes.txt", "not an image");
    writeText(dir / "elsewhere/outside.png", "png");
    writeSparse(share / "pixmaps/huge.png", 3ull << 30);

    EXPECT_EQ(InstalledApplications::largestIcon("claude"), theme / "256x256/apps/claude.png")
        << "the larger one is over the cap";
    const std::vector<std::pair<fs::path, bool>> absolute = {
        {theme / "256x256/apps/claude.png", true},
        {dir / "home/pixmaps/own.svg", true},
        {dir / "elsewhere/outside.png", false},
        {theme / "../../../elsewhere/outside.png", false},
        {share / "icons/notes.txt", false},
        {share / "pixmaps/huge.png", false},
        {"/dev/zero", false},
        {share / "icons", false},
    };
    for (const auto& [file, taken] : absolute) {
        const auto found = InstalledApplications::largestIcon(file.string());
        EXPECT_EQ(found.has_value(), taken) << file;
    }
}
