#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

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
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFile, FailuresNameThePathAndLeaveNothingBehind)
{
    TempDir dir;
    fs::create_directories(dir / "target/child");
    const auto error = thrown<FileError>([&] { AtomicFile::write(dir / "target", "x"); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.path(), dir / "target");
    EXPECT_NE(std::string(error.what()).find((dir / "target").string()), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);

    EXPECT_THROW(AtomicFile::write(dir / "missing/f", "x"), FileError);
    EXPECT_EQ(thrown<FileError>([&] { AtomicFile::read(dir / "nope"); }).kind(), FileError::Kind::ReadNoSuchFile);
}
