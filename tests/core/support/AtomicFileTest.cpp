#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using korvel::test::modeOf;
using korvel::test::readText;
using korvel::test::TempDir;

TEST(AtomicFile, ReplacesContentAndKeepsTheModeOfAReplacedFile)
{
    TempDir dir;
    const auto file = dir / "f.json";
    AtomicFile::write(file, "one");
    EXPECT_EQ(readText(file), "one");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(modeOf(file), 0666u & ~mask);

    ::chmod(file.c_str(), 0755);
    AtomicFile::write(file, std::string(100000, 'x'));
    EXPECT_EQ(readText(file).size(), 100000u);
    EXPECT_EQ(modeOf(file), 0755u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFile, FailureNamesTheTargetAndLeavesNothingBehind)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "target/child");
    try {
        AtomicFile::write(dir / "target", "x");
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
        EXPECT_EQ(error.path(), dir / "target");
        EXPECT_NE(error.errorNumber(), 0);
        EXPECT_NE(std::string(error.what()).find((dir / "target").string()), std::string::npos);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_THROW(AtomicFile::write(dir / "missing/f", "x"), FileError);
}

TEST(AtomicFile, ReadReportsMissingFiles)
{
    TempDir dir;
    try {
        AtomicFile::read(dir / "nope");
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::ReadNoSuchFile);
    }
}
