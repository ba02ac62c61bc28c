#include "core/support/FileError.hpp"
#include "core/transfer/SystemTools.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace korvel;
using korvel::test::modeOf;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

void setTimes(const std::filesystem::path& path, time_t seconds, long nanoseconds)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::string attributes(const std::filesystem::path& path)
{
    char names[4096];
    const ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
    std::map<std::string, std::string> sorted;
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t length = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
        sorted[names + at] = std::string(value, static_cast<size_t>(std::max<ssize_t>(length, 0)));
    }
    std::string text;
    for (const auto& [name, value] : sorted)
        text += " " + name + "=" + value;
    return text;
}

// Everything cloneTree promises to keep, per relative path: type, mode, modification time, link text or
// content, extended attributes.
std::map<std::string, std::string> describe(const std::filesystem::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat info
        { };
        ::lstat(entry.path().c_str(), &info);
        std::string text = std::to_string(info.st_mode) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
            std::to_string(info.st_mtim.tv_nsec) + attributes(entry.path());
        if (S_ISLNK(info.st_mode))
            text += " -> " + std::filesystem::read_symlink(entry.path()).string();
        else if (S_ISREG(info.st_mode))
            text += " = " + readText(entry.path());
        tree[std::filesystem::relative(entry.path(), root).string()] = text;
    }
    return tree;
}

bool userAttributesWork(const std::filesystem::path& file)
{
    return ::setxattr(file.c_str(), "user.korvel.probe", "1", 1, 0) == 0 &&
        ::removexattr(file.c_str(), "user.korvel.probe") == 0;
}

// A framework-style bundle with every kind of item the clone must carry over.
std::filesystem::path makeBundle(const TempDir& dir)
{
    const auto app = dir / "Source.app";
    const auto framework = app / "Contents/Frameworks/Electron Framework.framework";
    writeText(framework / "Versions/A/Electron Framework", "binary");
    writeText(framework / "Versions/A/Resources/Info.plist", "<plist/>");
    std::filesystem::create_directory_symlink("A", framework / "Versions/Current");
    std::filesystem::create_symlink("Versions/Current/Electron Framework", framework / "Electron Framework");
    std::filesystem::create_symlink("Versions/Current/Resources", framework / "Resources");
    std::filesystem::create_symlink("host-4711", app / "Contents/SingletonLock"); // dangling
    std::filesystem::create_symlink("/nonexistent/absolute", app / "Contents/Absolute");
    writeText(app / "Contents/MacOS/Claude", "#!/bin/sh\n");
    writeText(app / "Contents/Resources/secret", "private");
    writeText(app / "Contents/Resources/empty", "");
    writeText(app / "Contents/Resources/large.bin", std::string(3 << 20, 'z') + "end");
    for (int i = 0; i < 150; ++i)
        writeText(app / "Contents/Resources/many" / (std::to_string(i) + ".txt"), std::to_string(i * i));
    std::filesystem::create_directories(app / "Contents/Empty/Nested");
    ::mkfifo((app / "Contents/pipe").c_str(), 0640);

    std::filesystem::permissions(app / "Contents/MacOS/Claude", std::filesystem::perms(0755));
    std::filesystem::permissions(app / "Contents/Resources/secret", std::filesystem::perms(0600));
    std::filesystem::permissions(app / "Contents/Resources/empty", std::filesystem::perms(0700));
    ::setxattr((app / "Contents/MacOS/Claude").c_str(), "user.com.apple.quarantine", "0081;x", 6, 0);
    ::setxattr((app / "Contents/Resources").c_str(), "user.korvel.folder", "yes", 3, 0);

    // Read-only folder with content: its mode may only be applied after everything inside is written.
    std::filesystem::permissions(app / "Contents/Resources/many", std::filesystem::perms(0555));
    std::filesystem::permissions(app / "Contents/Empty", std::filesystem::perms(0750));

    // Times last, deepest first, so that writing children does not move a folder's time.
    long nanoseconds = 123456789;
    std::vector<std::filesystem::path> all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(app))
        all.push_back(entry.path());
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->filename() != "pipe")
            setTimes(*it, 1000000000 + static_cast<time_t>(it->string().size()), nanoseconds++);
    }
    setTimes(app, 1200000000, 5);
    return app;
}

FileError cloneFailure(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    try {
        SystemTools::cloneTree(source, destination);
    } catch (const FileError& error) {
        return error;
    }
    ADD_FAILURE() << "cloneTree did not fail";
    return FileError(FileError::Kind::ReadUnknown, "");
}

} // namespace

TEST(SystemToolsCloneTree, ReproducesTheTreeWithLinksModesTimesAndAttributes)
{
    TempDir dir;
    const auto source = makeBundle(dir);
    if (!userAttributesWork(source / "Contents/Resources/secret"))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    const auto copy = dir / "Copy.app";
    SystemTools::cloneTree(source, copy);

    EXPECT_EQ(describe(copy), describe(source));
    EXPECT_EQ(modeOf(copy), modeOf(source));

    const auto framework = copy / "Contents/Frameworks/Electron Framework.framework";
    EXPECT_TRUE(std::filesystem::is_symlink(framework / "Versions/Current"));
    EXPECT_EQ(std::filesystem::read_symlink(framework / "Versions/Current"), "A");
    EXPECT_EQ(std::filesystem::read_symlink(framework / "Electron Framework"), "Versions/Current/Electron Framework");
    EXPECT_EQ(readText(framework / "Electron Framework"), "binary");
    EXPECT_EQ(std::filesystem::read_symlink(copy / "Contents/SingletonLock"), "host-4711");
    EXPECT_EQ(std::filesystem::read_symlink(copy / "Contents/Absolute"), "/nonexistent/absolute");
    EXPECT_EQ(modeOf(copy / "Contents/Resources/secret"), 0600u);
    EXPECT_EQ(modeOf(copy / "Contents/Resources/empty"), 0700u);
    EXPECT_EQ(modeOf(copy / "Contents/MacOS/Claude"), 0755u);
    EXPECT_EQ(modeOf(copy / "Contents/Resources/many"), 0555u);
    EXPECT_TRUE(std::filesystem::is_directory(copy / "Contents/Empty/Nested"));
    EXPECT_TRUE(std::filesystem::is_fifo(copy / "Contents/pipe"));
    EXPECT_EQ(attributes(copy / "Contents/MacOS/Claude"), " user.com.apple.quarantine=0081;x");

    // A copy, not the same files: changing it leaves the source alone.
    writeText(copy / "Contents/MacOS/Claude", "changed");
    EXPECT_EQ(readText(source / "Contents/MacOS/Claude"), "#!/bin/sh\n");
}

TEST(SystemToolsCloneTree, CopiesASingleFileOrLinkAndFillsAnExistingEmptyFolder)
{
    TempDir dir;
    writeText(dir / "file", "content");
    ::chmod((dir / "file").c_str(), 0640);
    setTimes(dir / "file", 1500000000, 42);
    SystemTools::cloneTree(dir / "file", dir / "file copy");
    EXPECT_EQ(describe(dir.path())["file copy"], describe(dir.path())["file"]);

    std::filesystem::create_symlink("file", dir / "link");
    SystemTools::cloneTree(dir / "link", dir / "link copy");
    EXPECT_EQ(std::filesystem::read_symlink(dir / "link copy"), "file");

    writeText(dir / "tree/a/b", "b");
    std::filesystem::create_directories(dir / "target");
    SystemTools::cloneTree(dir / "tree", dir / "target");
    EXPECT_EQ(readText(dir / "target/a/b"), "b");
}

TEST(SystemToolsCloneTree, FailuresAreWriteErrorsWithTheDestinationPath)
{
    TempDir dir;
    writeText(dir / "tree/file", "x");
    writeText(dir / "plain", "not a folder");

    const FileError underFile = cloneFailure(dir / "tree", dir / "plain/copy");
    EXPECT_EQ(underFile.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(underFile.path(), dir / "plain/copy");
    EXPECT_EQ(underFile.errorNumber(), ENOTDIR);
    EXPECT_NE(std::string(underFile.what()).find((dir / "plain/copy").string()), std::string::npos);

    const FileError noParent = cloneFailure(dir / "tree", dir / "missing/copy");
    EXPECT_EQ(noParent.errorNumber(), ENOENT);
    EXPECT_EQ(noParent.path(), dir / "missing/copy");

    const FileError noSource = cloneFailure(dir / "absent", dir / "copy");
    EXPECT_EQ(noSource.kind(), FileError::Kind::WriteUnknown);
    EXPECT_EQ(noSource.path(), dir / "copy");
    EXPECT_EQ(noSource.errorNumber(), ENOENT);

    // A file in the way of one of the tree's files.
    writeText(dir / "occupied/file/inner", "y");
    const FileError occupied = cloneFailure(dir / "tree", dir / "occupied");
    EXPECT_EQ(occupied.errorNumber(), EEXIST);
    EXPECT_EQ(cloneFailure(dir / "plain", dir / "tree/file").errorNumber(), EEXIST);

    // Into itself would never end.
    EXPECT_EQ(cloneFailure(dir / "tree", dir / "tree/inside").errorNumber(), EINVAL);
}
