#include "core/support/AtomicFile.hpp"
#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"
#include "core/support/JsonWriter.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

TEST(AtomicFile, ReplacesContentKeepsTheModeAndLeavesNothingBehindOnFailure)
{
    TempDir dir;
    const auto file = dir / "f.json";
    AtomicFile::write(file, "one");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(modeOf(file), 0666u & ~mask);
    ::chmod(file.c_str(), 0755);
    AtomicFile::write(file, std::string(100000, 'x'));
    EXPECT_EQ(readText(file), std::string(100000, 'x'));
    EXPECT_EQ(modeOf(file), 0755u);

    fs::create_directories(dir / "target/child");
    const auto error = thrown<FileError>([&] { AtomicFile::write(dir / "target", "x"); });
    EXPECT_EQ(error.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(error.path(), dir / "target");
    EXPECT_NE(std::string(error.what()).find((dir / "target").string()), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "a temporary left behind";
    EXPECT_THROW(AtomicFile::write(dir / "missing/f", "x"), FileError);
    EXPECT_EQ(thrown<FileError>([&] { AtomicFile::read(dir / "nope"); }).kind(), FileError::Kind::ReadNoSuchFile);
}

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

    // A path through a file or a dangling link fails.
    writeText(dir / "file", "x");
    EXPECT_EQ(thrown<FileError>([&] { Directories::create(dir / "file/sub/deeper", 0700); }).errorNumber(), ENOTDIR);
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_THROW(Directories::create(dir / "dangling/sub", 0700), FileError);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST(JsonWriter, WritesValidUtf8WhateverBytesItIsGiven)
{
    const std::vector<std::string> texts {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf", "ok é 🚀"};
    for (const std::string& text : texts) {
        const std::string written = JsonWriter::format(nlohmann::json {{text, text}});
        EXPECT_TRUE(nlohmann::json::accept(written)) << written;
    }
    EXPECT_EQ(JsonWriter::format("ok é 🚀"), "\"ok é 🚀\"") << "valid text stays as it is";
}
