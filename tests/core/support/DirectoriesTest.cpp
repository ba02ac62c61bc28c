#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using korvel::test::modeOf;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

// Restores the process umask when the test ends.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask)
        : m_previous(::umask(mask))
    { }
    ~ScopedUmask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

} // namespace

TEST(Directories, NewFoldersGetExactlyTheModeWhateverTheUmaskAndExistingOnesStayAsTheyAre)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "existing");
    ::chmod((dir / "existing").c_str(), 0755);
    for (const mode_t mask : {mode_t(0), mode_t(022), mode_t(0277)}) {
        ScopedUmask umask(mask);
        const auto leaf = dir / "existing" / std::to_string(mask) / "b" / "c";
        Directories::create(leaf, 0700);
        EXPECT_EQ(modeOf(dir / "existing" / std::to_string(mask)), 0700u) << mask;
        EXPECT_EQ(modeOf(leaf.parent_path()), 0700u) << mask;
        EXPECT_EQ(modeOf(leaf), 0700u) << mask;
    }
    EXPECT_EQ(modeOf(dir / "existing"), 0755u);

    Directories::create(dir / "existing", 0700); // nothing to do, nothing changed
    Directories::create(dir / "trailing/slash/", 0750);
    EXPECT_EQ(modeOf(dir / "existing"), 0755u);
    EXPECT_EQ(modeOf(dir / "trailing/slash"), 0750u);

    std::filesystem::create_directory_symlink(dir / "existing", dir / "link");
    Directories::create(dir / "link/through", 0700);
    EXPECT_EQ(modeOf(dir / "existing/through"), 0700u) << "a link to a folder is a folder";
}

TEST(Directories, APathThroughAFileOrADanglingLinkFails)
{
    TempDir dir;
    writeText(dir / "file", "x");
    try {
        Directories::create(dir / "file/sub/deeper", 0700);
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
        EXPECT_EQ(error.errorNumber(), ENOTDIR);
    }
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_THROW(Directories::create(dir / "dangling/sub", 0700), FileError);
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}
