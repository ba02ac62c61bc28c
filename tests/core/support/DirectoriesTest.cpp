#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

TEST(Directories, NewFoldersGetExactlyTheModeWhateverTheUmaskAndExistingOnesStayAsTheyAre)
{
    TempDir dir;
    fs::create_directory(dir / "existing");
    ::chmod((dir / "existing").c_str(), 0755);
    for (const mode_t mask : {mode_t(0), mode_t(0277)}) {
        const mode_t previous = ::umask(mask);
        const auto leaf = dir / "existing" / std::to_string(mask) / "b";
        Directories::create(leaf, 0700);
        ::umask(previous);
        EXPECT_EQ(modeOf(leaf.parent_path()), 0700u) << mask;
        EXPECT_EQ(modeOf(leaf), 0700u) << mask;
    }
    Directories::create(dir / "existing", 0700); // nothing to do, nothing changed
    EXPECT_EQ(modeOf(dir / "existing"), 0755u);
    Directories::create(dir / "trailing/slash/", 0750);
    EXPECT_EQ(modeOf(dir / "trailing/slash"), 0750u);

    fs::create_directory_symlink(dir / "existing", dir / "link");
    Directories::create(dir / "link/through", 0700);
    EXPECT_EQ(modeOf(dir / "existing/through"), 0700u) << "a link to a folder is a folder";
}

TEST(Directories, APathThroughAFileOrADanglingLinkFails)
{
    TempDir dir;
    writeText(dir / "file", "x");
    const auto error = thrown<FileError>([&] { Directories::create(dir / "file/sub/deeper", 0700); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.errorNumber(), ENOTDIR);

    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_THROW(Directories::create(dir / "dangling/sub", 0700), FileError);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}
