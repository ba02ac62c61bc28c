#include "core/support/DesktopEntry.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/app/platform/linux/TestBundle.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* probeLink = "claude://claude.ai/new";

// GLib reads the XDG folders once per process: every step runs in a fresh process with the sandbox's.
class LinkHandlerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        korvel = TestBundle::withScript(sandbox.root() / "It's \"Korvel\" $HOME", "Korvel", "com.veldrane.Korvel",
            "Korvel", TestBundle::recordingScript(sandbox.root() / "korvel-arguments"));
        TestBundle::addURLScheme(korvel, "claude");
        claude = TestBundle::withScript(sandbox.root() / "Applications", "Claude", "com.anthropic.claudefordesktop",
            "Claude", TestBundle::stayingScript());
        TestBundle::addURLScheme(claude, "claude");
        profileApp = TestBundle::withScript(sandbox.home() / "Applications" / "Claude Profiles", "Claude Work",
            "com.veldrane.Korvel.profile.0f4c6a2e-1b7d-4e55-9a3b-6c2d8e9f0a11", "KorvelLauncher",
            TestBundle::stayingScript());
    }

    // Runs the probe with `commands` and returns its lines.
    std::vector<std::string> probe(const std::vector<std::string>& commands)
    {
        std::vector<std::string> arguments = {"LinkHandlerProbe", korvel.string()};
        arguments.insert(arguments.end(), commands.begin(), commands.end());
        BackgroundProcess process(KORVEL_LINK_HANDLER_PROBE,
            BackgroundProcess::Options {.arguments = arguments, .environment = sandbox.environment()});
        process.waitForLine([](const std::string&) { return false; }); // reads until the output ends
        EXPECT_EQ(process.wait(), 0);
        return process.lines();
    }

    std::string handler() { return probe({"get", probeLink}).at(0); }

    // Runs a tool we did not write, with the sandbox's environment; its output.
    std::string run(std::vector<std::string> arguments)
    {
        BackgroundProcess process(arguments.front(),
            BackgroundProcess::Options {.arguments = arguments, .environment = sandbox.environment()});
        process.waitForLine([](const std::string&) { return false; });
        process.wait();
        std::string output;
        for (const auto& line : process.lines())
            output += line + "\n";
        return output;
    }

    Sandbox sandbox;
    std::filesystem::path korvel;
    std::filesystem::path claude;
    std::filesystem::path profileApp;
};

} // namespace

TEST_F(LinkHandlerTest, KorvelBecomesTheHandlerForItselfAndForGLibsOwnTools)
{
    EXPECT_EQ(handler(), "handler none");
    // The answer changes within the same process right after the change, as the settings screen asks at once.
    EXPECT_EQ(probe({"get", probeLink, "set", korvel.string(), "claude", "get", probeLink}),
        (std::vector<std::string> {"handler none", "set ok", "handler " + korvel.string()}));
    EXPECT_EQ(handler(), "handler " + korvel.string());

    const auto entry = DesktopEntry::read(sandbox.dataHome() / "applications" / "korvel.desktop");
    EXPECT_EQ(entry.value("X-Korvel-Bundle"), korvel.string());
    EXPECT_NE(entry.value("MimeType").value_or("").find("x-scheme-handler/claude;"), std::string::npos);
    EXPECT_NE(readText(sandbox.configHome() / "mimeapps.list").find("x-scheme-handler/claude=korvel.desktop"),
        std::string::npos);
    EXPECT_NE(run({"/usr/bin/gio", "mime", "x-scheme-handler/claude"}).find("korvel.desktop"), std::string::npos);

    // GLib starts Korvel's executable from the entry, with the link as its one argument, although the path
    // holds quotes, a dollar sign and blanks.
    const std::string link = "claude://claude.ai/login?code=a b&next=\"/new\"";
    run({"/usr/bin/gio", "open", link});
    const auto arguments = sandbox.root() / "korvel-arguments";
    for (int i = 0; i < 1000 && !std::filesystem::exists(arguments); ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(std::filesystem::exists(arguments));
    EXPECT_EQ(readText(arguments), link + '\0');
}

TEST_F(LinkHandlerTest, AProfileAppMadeTheHandlerIsSeenAsSuchAndClaudeCanTakeTheSchemeBack)
{
    EXPECT_EQ(probe({"set", profileApp.string(), "claude"}), std::vector<std::string> {"set ok"});
    EXPECT_EQ(handler(), "handler " + profileApp.string());
    const auto profileEntry = DesktopEntry::read(sandbox.dataHome() / "applications" /
        "korvel-com.veldrane.Korvel.profile.0f4c6a2e-1b7d-4e55-9a3b-6c2d8e9f0a11.desktop");
    EXPECT_EQ(profileEntry.value("Name"), "Claude Work");
    EXPECT_EQ(profileEntry.value("MimeType"), std::nullopt) << "profile apps declare no URL types";

    EXPECT_EQ(probe({"set", claude.string(), "claude", "get", probeLink}),
        (std::vector<std::string> {"set ok", "handler " + claude.string()}));
    EXPECT_EQ(handler(), "handler " + claude.string());
    const auto claudeEntry =
        DesktopEntry::read(sandbox.dataHome() / "applications" / "korvel-com.anthropic.claudefordesktop.desktop");
    EXPECT_EQ(claudeEntry.value("MimeType"), "x-scheme-handler/claude;");

    // Back and forth between Korvel and Claude, as the routing switch does.
    EXPECT_EQ(
        probe({"set", korvel.string(), "claude", "get", probeLink, "set", claude.string(), "claude", "get", probeLink}),
        (std::vector<std::string> {"set ok", "handler " + korvel.string(), "set ok", "handler " + claude.string()}));
}

TEST_F(LinkHandlerTest, EntriesOfOtherProgramsNameTheirBundleThroughTheirExecutable)
{
    const auto applications = sandbox.dataHome() / "applications";
    DesktopEntry other;
    other.set("Type", "Application");
    other.set("Name", "Other");
    other.set("Exec", DesktopEntry::execLine({TestBundle::executable(claude).string()}, "%U"));
    other.write(applications / "other.desktop");
    DesktopEntry plain;
    plain.set("Type", "Application");
    plain.set("Name", "Plain");
    plain.set("Exec", "/bin/true %u");
    plain.write(applications / "plain.desktop");

    run({"/usr/bin/gio", "mime", "x-scheme-handler/claude", "other.desktop"});
    EXPECT_EQ(handler(), "handler " + claude.string());
    run({"/usr/bin/gio", "mime", "x-scheme-handler/claude", "plain.desktop"});
    EXPECT_EQ(handler(), "handler none") << "a handler outside any bundle";
    EXPECT_EQ(probe({"get", "no-scheme-here"}), std::vector<std::string> {"handler none"});
}

TEST_F(LinkHandlerTest, RefusalsArriveAsErrorsWithTheirReason)
{
    const auto broken = TestBundle::withScript(sandbox.root(), "Broken", "com.example.broken", "Broken", "");
    std::filesystem::remove(TestBundle::executable(broken));
    const auto lines = probe({"set", broken.string(), "claude"});
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_TRUE(lines[0].starts_with("set error The file “" + TestBundle::executable(broken).string())) << lines[0];

    const auto anonymous = TestBundle::withScript(sandbox.root(), "Anonymous", "", "Anonymous", "");
    EXPECT_TRUE(probe({"set", anonymous.string(), "claude"}).at(0).starts_with("set error ")) << "no identifier";

    // GLib cannot write mimeapps.list under a regular file: its own message comes through.
    writeText(sandbox.root() / "file", "");
    sandbox.set("XDG_CONFIG_HOME", (sandbox.root() / "file" / "config").string());
    auto environment = sandbox.environment();
    environment["XDG_CONFIG_HOME"] = (sandbox.root() / "file" / "config").string();
    BackgroundProcess process(KORVEL_LINK_HANDLER_PROBE,
        BackgroundProcess::Options {
            .arguments = {"LinkHandlerProbe", korvel.string(), "set", claude.string(), "claude"},
            .environment = environment});
    const auto line = process.waitForLine("set ");
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->starts_with("set error ")) << *line;
    EXPECT_GT(line->size(), std::string("set error ").size() + 10) << *line;
    EXPECT_EQ(handler(), "handler none");
}
