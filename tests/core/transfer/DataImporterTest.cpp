#include "core/transfer/DataImporter.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/FileSizeLimit.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> lockEntries = {
    "SingletonLock", "SingletonCookie", "SingletonSocket", "RunningChromeVersion"};

bool present(const fs::path& path)
{
    return fs::exists(fs::symlink_status(path));
}

} // namespace

TEST(DataImporter, ImportableDataHasAMarkerEntryOfAnyKind)
{
    TempDir dir;
    EXPECT_FALSE(DataImporter::hasImportableData(dir / "missing"));
    EXPECT_FALSE(DataImporter::hasImportableData(dir.path()));
    fs::create_symlink(dir / "nowhere", dir / "Local State");
    EXPECT_FALSE(DataImporter::hasImportableData(dir.path())) << "a dangling link is nothing";
    fs::create_directory(dir / "config.json");
    EXPECT_TRUE(DataImporter::hasImportableData(dir.path())) << "the type does not matter";
    fs::remove(dir / "config.json");
    writeText(dir / "nowhere", "{}");
    EXPECT_TRUE(DataImporter::hasImportableData(dir.path()));
}

TEST(DataImporter, CopiesTheDataOfARunningAppWithoutItsLockEntries)
{
    TempDir dir;
    const fs::path source = dir / "Claude";
    writeText(source / "Local State", R"({"profile": {"last_used": "Default"}})");
    writeText(source / "Default/Local Storage/leveldb/000003.log", std::string(100000, 'x'));
    writeText(source / "Profile 1/Cookies", std::string("\0\x01\xff", 3));
    writeText(source / ".hidden", "h");
    fs::create_symlink("../Preferences", source / "Default/Local Storage/back");
    ::chmod((source / "Profile 1/Cookies").c_str(), 0600);
    ::chmod(source.c_str(), 0755);
    // What a running instance keeps, as entries of every kind: links to its host (no such file) and to a file,
    // a folder, a file.
    writeText(dir / "cookie", "keep me");
    fs::create_symlink("workstation-4242", source / "SingletonLock");
    fs::create_symlink(dir / "cookie", source / "SingletonCookie");
    writeText(source / "SingletonSocket/inside", "a folder");
    writeText(source / "RunningChromeVersion", "126.0.6478.127");
    const auto before = describeTree(source);

    // Missing parents are made; an empty destination folder is replaced.
    const fs::path destination = dir / "Korvel/Profiles/X/Data";
    DataImporter::importData(source, destination);
    fs::create_directories(dir / "empty");
    DataImporter::importData(source, dir / "empty");
    EXPECT_EQ(describeTree(dir / "empty"), describeTree(destination));
    EXPECT_EQ(modeOf(dir / "empty"), 0700u);

    EXPECT_EQ(describeTree(source), before) << "the source is never changed";
    EXPECT_EQ(modeOf(source), 0755u);
    EXPECT_EQ(readText(dir / "cookie"), "keep me");
    EXPECT_EQ(modeOf(destination), 0700u);
    auto expected = before;
    for (const std::string& name : lockEntries) {
        EXPECT_FALSE(present(destination / name)) << name;
        expected.erase(name);
    }
    expected.erase("SingletonSocket/inside");
    EXPECT_EQ(describeTree(destination), expected) << "contents, modes, times and links as in the source";
}

TEST(DataImporter, NeverMixesWithExistingDataOrImportsNothing)
{
    TempDir dir;
    writeText(dir / "source/Local State", "{}");
    writeText(dir / "hidden/.keep", "mine");
    const auto exists = thrown<FileError>([&] { DataImporter::importData(dir / "source", dir / "hidden"); });
    EXPECT_EQ(exists.kind(), FileError::Kind::WriteFileExists);
    EXPECT_EQ(exists.path(), dir / "hidden");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "hidden"), {}), 1);

    writeText(dir / "file", "a file where the folder would go");
    const auto file = thrown<FileError>([&] { DataImporter::importData(dir / "source", dir / "file"); });
    EXPECT_EQ(file.path(), dir / "file");
    EXPECT_EQ(file.errorNumber(), ENOTDIR);
    EXPECT_EQ(readText(dir / "file"), "a file where the folder would go");

    writeText(dir / "unmarked/Preferences", "no markers");
    for (const fs::path& source : {dir / "unmarked", dir / "missing"}) {
        const auto nothing = thrown<FileError>([&] { DataImporter::importData(source, dir / "new/Data"); });
        EXPECT_EQ(nothing.kind(), FileError::Kind::ReadNoSuchFile);
        EXPECT_EQ(nothing.path(), source);
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST(DataImporter, ALinkedSourceIsResolvedAndTheOriginalKeepsItsLockEntriesAndMode)
{
    TempDir dir;
    const fs::path original = dir / "real/Claude";
    writeText(original / "Local State", "{}");
    fs::create_symlink("workstation-4242", original / "SingletonLock");
    writeText(original / "SingletonSocket/inside", "a folder");
    ::chmod(original.c_str(), 0755);
    fs::create_directory_symlink(original, dir / "Claude");
    const auto before = describeTree(original);

    DataImporter::importData(dir / "Claude", dir / "Data");
    EXPECT_EQ(describeTree(original), before);
    EXPECT_EQ(modeOf(original), 0755u);
    EXPECT_FALSE(fs::is_symlink(dir / "Data"));
    EXPECT_EQ(modeOf(dir / "Data"), 0700u);
    EXPECT_EQ(readText(dir / "Data/Local State"), "{}");
    EXPECT_FALSE(present(dir / "Data/SingletonLock"));
    EXPECT_FALSE(DataImporter::wasInterrupted(dir / "Data"));
}

TEST(DataImporter, AFailedCopyLeavesNothingAndABrokenOffOneIsRecognised)
{
    TempDir dir;
    writeText(dir / "Claude/Local State", "{}");
    fs::create_symlink("workstation-4242", dir / "Claude/SingletonLock");
    writeText(dir / "Claude/zz-large", std::string(300'000, 'x'));
    {
        const FileSizeLimit limit(64 * 1024);
        EXPECT_THROW(DataImporter::importData(dir / "Claude", dir / "Profile/Data"), FileError);
    }
    EXPECT_FALSE(present(dir / "Profile/Data")) << "never half a copy, never the lock links";
    EXPECT_FALSE(DataImporter::wasInterrupted(dir / "Profile/Data"));

    // What a kill in the middle leaves: the marker and part of the data.
    writeText(DataImporter::interruptedMarker(dir / "Profile/Data"), "");
    writeText(dir / "Profile/Data/Local State", "{}");
    ASSERT_TRUE(DataImporter::wasInterrupted(dir / "Profile/Data"));
    DataImporter::discardInterrupted(dir / "Profile/Data");
    EXPECT_FALSE(present(dir / "Profile/Data"));
    EXPECT_FALSE(DataImporter::wasInterrupted(dir / "Profile/Data"));
    DataImporter::importData(dir / "Claude", dir / "Profile/Data");
    EXPECT_EQ(fs::file_size(dir / "Profile/Data/zz-large"), 300'000u);
}
