#include "core/transfer/SystemTools.hpp"
#include "core/transfer/CommandError.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <thread>

using namespace korvel;
using korvel::test::readText;
using korvel::test::ScopedEnvironment;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

std::filesystem::path writeScript(const std::filesystem::path& file, const std::string& body)
{
    writeText(file, "#!/bin/sh\n" + body);
    std::filesystem::permissions(file, std::filesystem::perms(0755));
    return file;
}

// The CommandError that running `tool` throws; fails the test when something else happens.
CommandError commandError(const std::filesystem::path& tool, const std::vector<std::string>& arguments)
{
    try {
        SystemTools::run(tool, arguments);
    } catch (const CommandError& error) {
        return error;
    }
    ADD_FAILURE() << "no CommandError from " << tool;
    return CommandError("", 0, "");
}

// The errno of the launch error; -1 when something else (a CommandError above all) was thrown.
int launchError(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CommandError&) {
        return -1;
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

size_t openDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace

TEST(SystemToolsRun, ReturnsBothStreamsInArrivalOrder)
{
    TempDir dir;
    const auto errOnly = writeScript(dir / "err-only", "printf 'only on stderr\\n' >&2\n");
    EXPECT_EQ(SystemTools::run(errOnly, {}), "only on stderr\n");

    const auto mixed = writeScript(dir / "mixed", "echo one; echo two >&2; echo three; echo four >&2\n");
    EXPECT_EQ(SystemTools::run(mixed, {}), "one\ntwo\nthree\nfour\n");

    const auto silent = writeScript(dir / "silent", "exit 0\n");
    EXPECT_EQ(SystemTools::run(silent, {}), "");
}

TEST(SystemToolsRun, FailureKeepsTheRawOutputAndTrimsTheMessage)
{
    TempDir dir;
    const auto bad = writeScript(dir / "bad", "printf '  error: bad\\n\\n'\nexit 2\n");
    const CommandError error = commandError(bad, {"--flag", "two words"});
    EXPECT_EQ(error.command(), bad.string() + " --flag two words");
    EXPECT_EQ(error.status(), 2);
    EXPECT_EQ(error.output(), "  error: bad\n\n");
    EXPECT_EQ(std::string(error.what()), bad.string() + " --flag two words failed (exit 2): error: bad");

    const auto quiet = writeScript(dir / "quiet", "exit 3\n");
    const CommandError silent = commandError(quiet, {});
    EXPECT_EQ(silent.status(), 3);
    EXPECT_EQ(silent.output(), "");
    EXPECT_EQ(std::string(silent.what()), quiet.string() + " failed (exit 3): ");
}

TEST(SystemToolsRun, InvalidUtf8BecomesReplacementCharacters)
{
    TempDir dir;
    // A stray byte, an overlong pair (two bad bytes), a sequence cut short at the end, and a real U+FFFD.
    const auto garbled =
        writeScript(dir / "garbled", "printf '\\377ok\\300\\200 \\357\\277\\275 caf\\303\\251 \\342\\202'\n");
    EXPECT_EQ(SystemTools::run(garbled, {}), "\uFFFDok\uFFFD\uFFFD \uFFFD caf\u00E9 \uFFFD");

    const auto failing = writeScript(dir / "failing", "printf 'x\\377'\nexit 1\n");
    EXPECT_EQ(commandError(failing, {}).output(), "x\uFFFD");
}

TEST(SystemToolsRun, ReadsLargeOutputWithoutDeadlock)
{
    TempDir dir;
    const auto chatty = writeScript(
        dir / "chatty", "head -c 16777216 /dev/zero | tr '\\0' a\nhead -c 65536 /dev/zero | tr '\\0' b >&2\n");
    const std::string output = SystemTools::run(chatty, {});
    ASSERT_EQ(output.size(), 16777216u + 65536u);
    EXPECT_EQ(output.find_first_not_of('a'), 16777216u);
    EXPECT_EQ(output.back(), 'b');
}

TEST(SystemToolsRun, SignalDeathReportsTheSignalNumber)
{
    TempDir dir;
    EXPECT_EQ(commandError(writeScript(dir / "killed", "kill -KILL $$\n"), {}).status(), 9);
    const CommandError terminated = commandError(writeScript(dir / "terminated", "echo bye\nkill -TERM $$\n"), {});
    EXPECT_EQ(terminated.status(), 15);
    EXPECT_EQ(terminated.output(), "bye\n");
}

TEST(SystemToolsRun, StartFailureIsTheLaunchErrorNotACommandError)
{
    TempDir dir;
    EXPECT_EQ(launchError([&] { SystemTools::run(dir / "missing", {}); }), ENOENT);

    writeText(dir / "plain", "#!/bin/sh\necho never\n");
    std::filesystem::permissions(dir / "plain", std::filesystem::perms(0644));
    EXPECT_EQ(launchError([&] { SystemTools::run(dir / "plain", {}); }), EACCES);

    EXPECT_EQ(launchError([&] { SystemTools::run(dir.path(), {}); }), EACCES);

    writeText(dir / "no-interpreter", "echo never\n");
    std::filesystem::permissions(dir / "no-interpreter", std::filesystem::perms(0755));
    EXPECT_EQ(launchError([&] { SystemTools::run(dir / "no-interpreter", {}); }), ENOEXEC);
}

TEST(SystemToolsRun, ArgumentsArriveLiterallyWithoutAShell)
{
    TempDir dir;
    ScopedEnvironment environment("KORVEL_PROBE", "inherited");
    const auto echo = writeScript(
        dir / "echo args", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nprintf '%s\\n' \"$KORVEL_PROBE\"\n");
    const std::string marker = (dir / "marker").string();
    const std::string output = SystemTools::run(echo, {"$(touch " + marker + ")", "a b", "*", "", "'q'"});
    EXPECT_EQ(output, "[$(touch " + marker + ")]\n[a b]\n[*]\n[]\n['q']\ninherited\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "marker"));

    // A bare name is not looked up on the search path.
    EXPECT_EQ(launchError([] { SystemTools::run("sh", {"-c", "true"}); }), ENOENT);
}

TEST(SystemToolsRun, TheChildHoldsNoPipeButItsOutputAndNothingLeaks)
{
    TempDir dir;
    // Prints the pipe behind stdout, then every other descriptor open on that same pipe.
    const auto fds = writeScript(dir / "fds",
        "own=$(readlink /proc/$$/fd/1)\necho \"$own\"\n"
        "for f in /proc/$$/fd/*; do n=${f##*/}\n"
        "  if [ \"$n\" -gt 2 ] && [ \"$(readlink \"$f\")\" = \"$own\" ]; then echo \"leaked $n\"; fi\ndone\n");
    const std::string output = SystemTools::run(fds, {});
    EXPECT_EQ(output.rfind("pipe:", 0), 0u) << output;
    EXPECT_EQ(output.find("leaked"), std::string::npos) << output;

    const auto failing = writeScript(dir / "failing", "echo no\nexit 1\n");
    const size_t before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        SystemTools::run(fds, {});
        EXPECT_THROW(SystemTools::run(failing, {}), CommandError);
        EXPECT_THROW(SystemTools::run(dir / "missing", {}), std::system_error);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(SystemToolsRun, ConcurrentCallsKeepTheirOwnOutput)
{
    TempDir dir;
    const auto echo = writeScript(dir / "echo", "i=0\nwhile [ $i -lt 200 ]; do echo \"$1\"; i=$((i+1)); done\n");
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::string expected;
            for (int i = 0; i < 200; ++i)
                expected += "thread" + std::to_string(t) + "\n";
            for (int round = 0; round < 10; ++round)
                wrong[t] += SystemTools::run(echo, {"thread" + std::to_string(t)}) != expected;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(SystemToolsPaths, HelpersBesideTheFrameworksFolderOrTheOverride)
{
    {
        ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
        const auto helpers = std::filesystem::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/Helpers";
        const SystemTools::ToolPaths tools = SystemTools::toolPaths();
        EXPECT_EQ(std::filesystem::canonical(tools.codesign.parent_path()), std::filesystem::canonical(helpers));
        EXPECT_EQ(tools.codesign.filename(), "codesign");
        EXPECT_EQ(tools.xattr.parent_path(), tools.codesign.parent_path());
        EXPECT_EQ(tools.xattr.filename(), "xattr");
        EXPECT_EQ(tools.lsregister, tools.codesign.parent_path() / "lsregister");
    }
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", "/opt/tools");
    const SystemTools::ToolPaths tools = SystemTools::toolPaths();
    EXPECT_EQ(tools.codesign, "/opt/tools/codesign");
    EXPECT_EQ(tools.xattr, "/opt/tools/xattr");
    EXPECT_EQ(tools.lsregister, "/opt/tools/lsregister");
}

TEST(SystemToolsOperations, PassTheFixedArgumentLists)
{
    TempDir dir;
    const auto log = dir / "log";
    const std::string record = "printf '%s' \"${0##*/}\" >> \"" + log.string() +
        "\"\nfor a in \"$@\"; do printf ' %s' \"$a\" >> \"" + log.string() + "\"; done\necho >> \"" + log.string() +
        "\"\n";
    for (const char* tool : {"codesign", "xattr", "lsregister"})
        writeScript(dir / "tools" / tool, record);
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", (dir / "tools").string());

    const std::filesystem::path bundle = dir / "My App.app";
    SystemTools::removeQuarantine(bundle);
    SystemTools::adHocSign(bundle);
    SystemTools::verifySignature(bundle.string() + "/");
    SystemTools::unregisterFromLaunchServices(bundle);
    SystemTools::registerWithLaunchServices(bundle);
    const std::string b = bundle.string();
    EXPECT_EQ(readText(log),
        "xattr -dr com.apple.quarantine " + b + "\n" + "codesign --force --deep --sign - " + b + "\n" +
            "codesign --verify --deep --strict " + b + "\n" + "lsregister -u " + b + "\n" + "lsregister -f " + b +
            "\n");
}

TEST(SystemToolsOperations, CodesignRejectingTheBundleIsACommandError)
{
    TempDir dir;
    for (const char* tool : {"codesign", "xattr", "lsregister"})
        writeScript(dir / "tools" / tool, "echo \"$1: bundle format unrecognized\" >&2\nexit 1\n");
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", (dir / "tools").string());
    const auto bundle = dir / "P.app";
    const std::string codesign = (dir / "tools/codesign").string();
    try {
        SystemTools::adHocSign(bundle);
        FAIL();
    } catch (const CommandError& error) {
        EXPECT_EQ(std::string(error.what()),
            codesign + " --force --deep --sign - " + bundle.string() +
                " failed (exit 1): --force: bundle format unrecognized");
    }
    try {
        SystemTools::verifySignature(bundle);
        FAIL();
    } catch (const CommandError& error) {
        EXPECT_EQ(error.command(), codesign + " --verify --deep --strict " + bundle.string());
        EXPECT_EQ(error.output(), "--verify: bundle format unrecognized\n");
    }
    // The best-effort operations drop the complaint.
    EXPECT_NO_THROW(SystemTools::removeQuarantine(bundle));
    EXPECT_NO_THROW(SystemTools::registerWithLaunchServices(bundle));
    EXPECT_NO_THROW(SystemTools::unregisterFromLaunchServices(bundle));
}

TEST(SystemToolsOperations, MissingToolsThrowOnlyForSigning)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "empty");
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", (dir / "empty").string());
    const auto bundle = dir / "P.app";
    EXPECT_EQ(launchError([&] { SystemTools::adHocSign(bundle); }), ENOENT);
    EXPECT_EQ(launchError([&] { SystemTools::verifySignature(bundle); }), ENOENT);
    EXPECT_NO_THROW(SystemTools::removeQuarantine(bundle));
    EXPECT_NO_THROW(SystemTools::registerWithLaunchServices(bundle));
    EXPECT_NO_THROW(SystemTools::unregisterFromLaunchServices(bundle));
}
