#include "core/system/SystemTools.hpp"
#include "core/support/FileError.hpp"
#include "core/system/CommandError.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

// The errno with which a tool could not be started; a CommandError instead ends the test.
int launchError(const std::function<void()>& call)
{
    return thrown<std::system_error>(call).code().value();
}

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
    const std::vector<fs::path> all {fs::recursive_directory_iterator(app), fs::recursive_directory_iterator()};
    long nanoseconds = 123456789;
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        setTimes(*it, 1000000000 + static_cast<time_t>(it->string().size()), nanoseconds++);
    setTimes(app, 1200000000, 5);
    return attributes;
}

} // namespace

TEST(SystemToolsRun, ReturnsBothStreamsInArrivalOrderAsUtf8)
{
    TempDir dir;
    const auto mixed = writeExecutable(dir / "mixed", "#!/bin/sh\necho one; echo two >&2; echo three; echo four >&2\n");
    EXPECT_EQ(SystemTools::run(mixed, {}), "one\ntwo\nthree\nfour\n");
    // A stray byte, an overlong pair (two bad bytes), a real U+FFFD, and a sequence cut short at the end.
    const auto garbled = writeExecutable(
        dir / "garbled", "#!/bin/sh\nprintf '\\377ok\\300\\200 \\357\\277\\275 caf\\303\\251 \\342\\202'\n");
    EXPECT_EQ(SystemTools::run(garbled, {}), "\uFFFDok\uFFFD\uFFFD \uFFFD caf\u00E9 \uFFFD");

    // Large output on both streams is read without a deadlock.
    const auto chatty = writeExecutable(dir / "chatty",
        "#!/bin/sh\nhead -c 16777216 /dev/zero | tr '\\0' a\nhead -c 65536 /dev/zero | tr '\\0' b >&2\n");
    const std::string output = SystemTools::run(chatty, {});
    ASSERT_EQ(output.size(), 16777216u + 65536u);
    EXPECT_EQ(output.find_first_not_of('a'), 16777216u);
    EXPECT_EQ(output.back(), 'b');
}

TEST(SystemToolsRun, FailureKeepsTheRawOutputAndTrimsTheMessage)
{
    TempDir dir;
    const auto bad = writeExecutable(dir / "bad", "#!/bin/sh\nprintf '  error: bad\\n\\n'\nexit 2\n");
    const auto error = thrown<CommandError>([&] { SystemTools::run(bad, {"--flag", "two words"}); });
    EXPECT_EQ(error.command(), bad.string() + " --flag two words");
    EXPECT_EQ(error.status(), 2);
    EXPECT_EQ(error.output(), "  error: bad\n\n");
    EXPECT_EQ(std::string(error.what()), bad.string() + " --flag two words failed (exit 2): error: bad");

    // Killed by a signal: its number is the status.
    const auto killed = writeExecutable(dir / "killed", "#!/bin/sh\necho bye\nkill -TERM $$\n");
    const auto terminated = thrown<CommandError>([&] { SystemTools::run(killed, {}); });
    EXPECT_EQ(terminated.status(), 15);
    EXPECT_EQ(terminated.output(), "bye\n");

    // Not started at all: the launch error, not a CommandError.
    writeText(dir / "plain", "#!/bin/sh\necho never\n");
    const auto noInterpreter = writeExecutable(dir / "no-interpreter", "echo never\n");
    for (const auto& [path, error] : std::vector<std::pair<fs::path, int>> {{dir / "missing", ENOENT},
             {dir / "plain", EACCES}, {dir.path(), EACCES}, {noInterpreter, ENOEXEC}, {"sh", ENOENT}})
        EXPECT_EQ(launchError([&] { SystemTools::run(path, {"-c", "true"}); }), error) << path;
}

TEST(SystemToolsRun, ArgumentsArriveLiterallyWithoutAShellAndNothingLeaks)
{
    TempDir dir;
    ScopedEnvironment environment("KORVEL_PROBE", "inherited");
    const auto echo = writeExecutable(dir / "echo args",
        "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nprintf '%s\\n' \"$KORVEL_PROBE\"\n");
    const std::string marker = (dir / "marker").string();
    EXPECT_EQ(SystemTools::run(echo, {"$(touch " + marker + ")", "a b", "*", "", "'q'"}),
        "[$(touch " + marker + ")]\n[a b]\n[*]\n[]\n['q']\ninherited\n");
    EXPECT_FALSE(fs::exists(marker));

    // The child holds no other descriptor of the pipe behind its output, and none stays open here.
    const auto fds = writeExecutable(dir / "fds",
        "#!/bin/sh\nown=$(readlink /proc/$$/fd/1)\necho \"$own\"\n"
        "for f in /proc/$$/fd/*; do n=${f##*/}\n"
        "  if [ \"$n\" -gt 2 ] && [ \"$(readlink \"$f\")\" = \"$own\" ]; then echo \"leaked $n\"; fi\ndone\n");
    const std::string output = SystemTools::run(fds, {});
    EXPECT_EQ(output.rfind("pipe:", 0), 0u) << output;
    EXPECT_EQ(output.find("leaked"), std::string::npos) << output;
    const auto failing = writeExecutable(dir / "failing", "#!/bin/sh\necho no\nexit 1\n");
    const auto openDescriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        SystemTools::run(fds, {});
        EXPECT_THROW(SystemTools::run(failing, {}), CommandError);
        EXPECT_THROW(SystemTools::run(dir / "missing", {}), std::system_error);
    }
    EXPECT_EQ(openDescriptors(), before);
}

// The argument lists themselves are checked by korvel-tool's tests, which go through these operations and whose
// helpers refuse any other list.
TEST(SystemToolsOperations, OnlySigningFailuresReachTheCaller)
{
    TempDir dir;
    for (const char* tool : {"codesign", "xattr", "lsregister"})
        writeExecutable(dir / "rejecting" / tool, "#!/bin/sh\necho \"$1: bundle format unrecognized\" >&2\nexit 1\n");
    fs::create_directories(dir / "empty");
    const auto bundle = dir / "P.app";
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", (dir / "rejecting").string());
    EXPECT_EQ(thrown<CommandError>([&] { SystemTools::adHocSign(bundle); }).output(),
        "--force: bundle format unrecognized\n");
    EXPECT_EQ(thrown<CommandError>([&] { SystemTools::verifySignature(bundle); }).output(),
        "--verify: bundle format unrecognized\n");
    for (const char* tools : {"rejecting", "empty"}) {
        environment.set("KORVEL_TOOLS_DIR", (dir / tools).string());
        EXPECT_NO_THROW(SystemTools::removeQuarantine(bundle)) << tools;
        EXPECT_NO_THROW(SystemTools::registerWithLaunchServices(bundle)) << tools;
        EXPECT_NO_THROW(SystemTools::unregisterFromLaunchServices(bundle)) << tools;
    }
    EXPECT_EQ(launchError([&] { SystemTools::adHocSign(bundle); }), ENOENT);
    EXPECT_EQ(launchError([&] { SystemTools::verifySignature(bundle); }), ENOENT);
}

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
