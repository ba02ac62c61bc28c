#include "core/support/FolderSize.hpp"
#include "tests/support/DiskUsage.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

// What a delete throws away, counted as du -sb counts it.
TEST(FolderSize, CountsAsDuDoes)
{
    TempDir temp;
    const fs::path folder = temp / "Data";
    EXPECT_EQ(FolderSize::of(folder), 0u) << "missing";
    fs::create_directories(folder);
    EXPECT_EQ(FolderSize::of(folder), duBytes(folder)) << "empty";

    writeText(folder / "Local State", std::string(1234, 'x'));
    writeText(folder / "Default/IndexedDB/a b.ldb", std::string(70000, 'y'));
    writeText(folder / "Default/empty", "");
    writeText(folder / ".hidden/deep/er/file", "z");
    // Not followed: a link counts as the link, however big its target.
    writeText(temp / "outside", std::string(50000, 'o'));
    fs::create_symlink(temp / "outside", folder / "link to outside");
    fs::create_directory_symlink(folder / "Default", folder / "link to a folder");
    // Several names of one file count once, however many there are; a name outside does not make it count less.
    fs::create_hard_link(folder / "Local State", folder / "Default/second name");
    writeText(folder / "three names", std::string(3000, 't'));
    fs::create_hard_link(folder / "three names", folder / "Default/second of three");
    fs::create_hard_link(folder / "three names", folder / "third of three");
    writeText(folder / "named outside too", std::string(4000, 'n'));
    fs::create_hard_link(folder / "named outside too", temp / "outside name");
    // A sparse file by its apparent size.
    {
        std::FILE* sparse = std::fopen((folder / "sparse").c_str(), "w");
        ASSERT_NE(sparse, nullptr);
        std::fseek(sparse, 5'000'000, SEEK_SET);
        std::fputc('s', sparse);
        std::fclose(sparse);
    }
    EXPECT_EQ(FolderSize::of(folder), duBytes(folder));

    // A folder it may not enter is left out, the rest still counted.
    if (::geteuid() != 0) {
        ::chmod((folder / ".hidden/deep").c_str(), 0);
        EXPECT_GT(FolderSize::of(folder), 5'000'000u);
        ::chmod((folder / ".hidden/deep").c_str(), 0700);
    }
}

TEST(FolderSize, TextInDecimalUnits)
{
    const std::vector<std::pair<std::uintmax_t, std::string>> cases = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {12'400, "12 KB"},
        {999'499, "999 KB"},
        {999'500, "1.0 MB"},
        {1'250'000, "1.2 MB"},
        {1'200'000'000, "1.2 GB"},
        {999'960'000'000, "1.0 TB"},
        {UINTMAX_MAX, "18446.7 PB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FolderSize::text(bytes), text) << bytes;
}
