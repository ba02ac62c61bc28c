#include "core/transfer/SystemTools.hpp"
#include "core/transfer/CommandError.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <functional>
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

size_t openDescriptors()
{
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

} // namespace

TEST(SystemToolsRun, ReturnsBothStreamsInArrivalOrder)
{
    TempDir dir;
    const auto mixed = writeExecutable(dir / "mixed", "#!/bin/sh\necho one; echo two >&2; echo three; echo four >&2\n");
    EXPECT_EQ(SystemTools::run(mixed, {}), "one\ntwo\nthree\nfour\n");
    EXPECT_EQ(SystemTools::run(writeExecutable(dir / "silent", "#!/bin/sh\n"), {}), "");
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
}

TEST(SystemToolsRun, InvalidUtf8BecomesReplacementCharacters)
{
    TempDir dir;
    // A stray byte, an overlong pair (two bad bytes), a real U+FFFD, and a sequence cut short at the end.
    const auto garbled = writeExecutable(
        dir / "garbled", "#!/bin/sh\nprintf '\\377ok\\300\\200 \\357\\277\\275 caf\\303\\251 \\342\\202'\n");
    EXPECT_EQ(SystemTools::run(garbled, {}), "\uFFFDok\uFFFD\uFFFD \uFFFD caf\u00E9 \uFFFD");
    const auto failing = writeExecutable(dir / "failing", "#!/bin/sh\nprintf 'x\\377'\nexit 1\n");
    EXPECT_EQ(thrown<CommandError>([&] { SystemTools::run(failing, {}); }).output(), "x\uFFFD");
}

TEST(SystemToolsRun, ReadsLargeOutputWithoutDeadlock)
{
    TempDir dir;
    const auto chatty = writeExecutable(dir / "chatty",
        "#!/bin/sh\nhead -c 16777216 /dev/zero | tr '\\0' a\nhead -c 65536 /dev/zero | tr '\\0' b >&2\n");
    const std::string output = SystemTools::run(chatty, {});
    ASSERT_EQ(output.size(), 16777216u + 65536u);
    EXPECT_EQ(output.find_first_not_of('a'), 16777216u);
    EXPECT_EQ(output.back(), 'b');
}

TEST(SystemToolsRun, StartFailureIsTheLaunchErrorNotACommandError)
{
    TempDir dir;
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
    const size_t before = openDescriptors();
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
