#include "core/support/FileError.hpp"
#include "core/transfer/SystemTools.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

void setTimes(const fs::path& path, time_t seconds, long nanoseconds)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A framework-style bundle with every kind of item the clone must carry over; false without user attributes.
bool makeBundle(const fs::path& app)
{
    const auto framework = app / "Contents/Frameworks/Electron Framework.framework";
    writeText(framework / "Versions/A/Electron Framework", "binary");
    fs::create_directory_symlink("A", framework / "Versions/Current");
    fs::create_symlink("Versions/Current/Electron Framework", framework / "Electron Framework");
    fs::create_symlink("host-4711", app / "Contents/SingletonLock"); // dangling
    fs::create_symlink("/nonexistent/absolute", app / "Contents/Absolute");
    writeExecutable(app / "Contents/MacOS/Claude", "#!/bin/sh\n");
    writeText(app / "Contents/Resources/secret", "private");
    writeText(app / "Contents/Resources/large.bin", std::string(3 << 20, 'z') + "end");
    for (const char* name : {"a", "b", "c"})
        writeText(app / "Contents/Resources/many" / name, name);
    fs::create_directories(app / "Contents/Empty/Nested");
    ::mkfifo((app / "Contents/pipe").c_str(), 0640);
    fs::permissions(app / "Contents/Resources/secret", fs::perms(0600));
    fs::permissions(app / "Contents/Empty", fs::perms(0750));
    // A read-only folder with content: its mode may only be applied after everything inside is written.
    fs::permissions(app / "Contents/Resources/many", fs::perms(0555));
    const bool attributes =
        ::setxattr((app / "Contents/MacOS/Claude").c_str(), "user.com.apple.quarantine", "0081;x", 6, 0) == 0 &&
        ::setxattr((app / "Contents/Resources").c_str(), "user.korvel.folder", "yes", 3, 0) == 0;

    // Times last, deepest first, so that writing children does not move a folder's time.
    std::vector<fs::path> all;
    for (const auto& entry : fs::recursive_directory_iterator(app))
        all.push_back(entry.path());
    long nanoseconds = 123456789;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        setTimes(*it, 1000000000 + static_cast<time_t>(it->string().size()), nanoseconds++);
    setTimes(app, 1200000000, 5);
    return attributes;
}

} // namespace

TEST(SystemToolsCloneTree, ReproducesTheTreeWithLinksModesTimesAndAttributes)
{
    TempDir dir;
    const auto source = dir / "Source.app", copy = dir / "Copy.app";
    if (!makeBundle(source))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    SystemTools::cloneTree(source, copy);

    const auto tree = describeTree(copy);
    EXPECT_EQ(tree, describeTree(source));
    EXPECT_EQ(modeOf(copy), modeOf(source));
    EXPECT_EQ(tree.size(), 22u) << "every entry, links included";
    EXPECT_NE(tree.at("Contents/SingletonLock").find(" -> host-4711"), std::string::npos);
    EXPECT_NE(tree.at("Contents/MacOS/Claude").find(" user.com.apple.quarantine=0081;x"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(copy / "Contents/pipe"));
    EXPECT_EQ(modeOf(copy / "Contents/Resources/many"), 0555u);

    // A copy, not the same files: changing it leaves the source alone.
    writeText(copy / "Contents/MacOS/Claude", "changed");
    EXPECT_EQ(readText(source / "Contents/MacOS/Claude"), "#!/bin/sh\n");
}

TEST(SystemToolsCloneTree, FailuresAreWriteErrorsWithTheDestinationPath)
{
    TempDir dir;
    writeText(dir / "tree/file", "x");
    writeText(dir / "plain", "not a folder");
    writeText(dir / "occupied/file/inner", "a file in the way of one of the tree's files");
    for (const auto& [source, destination, error] :
        std::vector<std::tuple<fs::path, fs::path, int>> {{dir / "tree", dir / "plain/copy", ENOTDIR},
            {dir / "tree", dir / "missing/copy", ENOENT}, {dir / "absent", dir / "copy", ENOENT},
            {dir / "tree", dir / "occupied", EEXIST}, {dir / "plain", dir / "tree/file", EEXIST},
            {dir / "tree", dir / "tree/inside", EINVAL}}) { // into itself would never end
        const auto failure = thrown<FileError>([&] { SystemTools::cloneTree(source, destination); });
        EXPECT_EQ(failure.kind(), FileError::Kind::WriteUnknown) << destination;
        EXPECT_EQ(failure.path(), destination);
        EXPECT_EQ(failure.errorNumber(), error) << destination;
        EXPECT_NE(std::string(failure.what()).find(destination.string()), std::string::npos);
    }
}
