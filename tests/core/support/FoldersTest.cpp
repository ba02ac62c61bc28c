#include "core/support/Folders.hpp"
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

TEST(Folders, PrivateFoldersAreExactly0700WhateverTheUmaskAndExistingOnesStayAsTheyAre)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "existing");
    ::chmod((dir / "existing").c_str(), 0755);
    for (const mode_t mask : {mode_t(0), mode_t(022), mode_t(0277)}) {
        ScopedUmask umask(mask);
        const auto leaf = dir / "existing" / std::to_string(mask) / "b" / "c";
        Folders::createPrivate(leaf);
        EXPECT_EQ(modeOf(dir / "existing" / std::to_string(mask)), 0700u) << mask;
        EXPECT_EQ(modeOf(leaf.parent_path()), 0700u) << mask;
        EXPECT_EQ(modeOf(leaf), 0700u) << mask;
    }
    EXPECT_EQ(modeOf(dir / "existing"), 0755u);

    Folders::createPrivate(dir / "existing"); // nothing to do, nothing changed
    Folders::createPrivate(dir / "trailing/slash/");
    EXPECT_EQ(modeOf(dir / "existing"), 0755u);
    EXPECT_EQ(modeOf(dir / "trailing/slash"), 0700u);
}

TEST(Folders, DefaultFoldersFollowTheUmaskAndLinksToFoldersCount)
{
    TempDir dir;
    ScopedUmask umask(027);
    Folders::create(dir / "a/b");
    EXPECT_EQ(modeOf(dir / "a"), 0750u);
    EXPECT_EQ(modeOf(dir / "a/b"), 0750u);

    std::filesystem::create_directory_symlink(dir / "a", dir / "link");
    Folders::createPrivate(dir / "link/c");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/c"));
    EXPECT_EQ(modeOf(dir / "a/c"), 0700u);
}

TEST(Folders, APathThroughAFileFailsWithThatPath)
{
    TempDir dir;
    writeText(dir / "file", "x");
    for (const auto& create : {Folders::create, Folders::createPrivate}) {
        try {
            create(dir / "file/sub/deeper");
            FAIL();
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
            EXPECT_EQ(error.errorNumber(), ENOTDIR);
            EXPECT_EQ(error.path(), dir / "file/sub/deeper");
        }
    }
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_THROW(Folders::createPrivate(dir / "dangling/sub"), FileError);
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}
