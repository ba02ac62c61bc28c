#include "core/building/DesktopRegistration.hpp"
#include "core/support/DesktopEntry.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"
#include "tests/support/StandInLinuxClaude.hpp"

using namespace korvel;
using namespace korvel::test;
using testing::Contains;
using testing::HasSubstr;
using Lines = std::vector<std::string>;

namespace {

constexpr const char* probeLink = "claude://claude.ai/new";

// GLib reads the XDG folders once per process: every step runs in a fresh process with the sandbox's.
class LinkHandlerTest : public ::testing::Test
{
protected:
    // Runs `arguments` (the program first) to its end; its lines of output.
    static Lines run(const Lines& arguments)
    {
        BackgroundProcess process(arguments.front(), {.arguments = arguments});
        process.waitForLine([](const std::string&) { return false; }); // reads until the output ends
        EXPECT_EQ(process.wait(), 0);
        return process.lines();
    }

    Lines probe(Lines commands) const
    {
        commands.insert(commands.begin(), {KORVEL_LINK_HANDLER_PROBE, korvel.string()});
        return run(commands);
    }

    std::string handler() const { return probe({"get", probeLink}).at(0); }

    Sandbox sandbox;
    // Korvel's Info.plist need not declare the scheme, as a development build's may not.
    std::filesystem::path korvel = makeBundle(sandbox.root() / "It's \"Korvel\" $HOME", "Korvel", "com.veldrane.Korvel",
        recordingScript(sandbox.root() / "korvel-arguments"));
    std::filesystem::path claude = makeBundle(sandbox.root(), "Claude", "com.anthropic.claudefordesktop", "");
};

} // namespace

TEST_F(LinkHandlerTest, KorvelBecomesTheHandlerForItselfAndForGLibsOwnTools)
{
    // The answer changes within the same process right after the change, as the settings screen asks at once.
    EXPECT_EQ(probe({"get", probeLink, "set", korvel.string(), "get", probeLink}),
        (Lines {"handler none", "set ok", "handler " + korvel.string()}));
    EXPECT_EQ(handler(), "handler " + korvel.string());
    const auto entry = DesktopEntry::read(sandbox.dataHome() / "applications" / "korvel.desktop");
    EXPECT_EQ(entry.value("X-Korvel-Bundle"), korvel.string());
    EXPECT_THAT(entry.value("MimeType").value_or(""), HasSubstr("x-scheme-handler/claude;"));
    EXPECT_THAT(run({"/usr/bin/gio", "mime", "x-scheme-handler/claude"}), Contains(HasSubstr("korvel.desktop")));

    // GLib starts Korvel's executable from the entry, with the link as its one argument, although the path
    // holds quotes, a dollar sign and blanks.
    const std::string link = "claude://claude.ai/login?code=a b&next=\"/new\"";
    run({"/usr/bin/gio", "open", link});
    EXPECT_TRUE(waitUntil([&] { return recordedArguments(sandbox.root() / "korvel-arguments") == Lines {link}; }));
}

TEST_F(LinkHandlerTest, ProfileAppsAndClaudeTakeTheSchemeInTurnWithKorvel)
{
    const auto profileApp = makeBundle(sandbox.home() / "Applications" / "Claude Profiles", "Claude Work",
        "com.veldrane.Korvel.profile.0f4c6a2e-1b7d-4e55-9a3b-6c2d8e9f0a11", stayingScript());
    EXPECT_EQ(probe({"set", profileApp.string()}), Lines {"set ok"});
    EXPECT_EQ(handler(), "handler " + profileApp.string());
    // Back and forth, as the routing switch does.
    EXPECT_EQ(probe({"set", claude.string(), "get", probeLink, "set", korvel.string(), "get", probeLink, "set",
                  claude.string()}),
        (Lines {"set ok", "handler " + claude.string(), "set ok", "handler " + korvel.string(), "set ok"}));
    EXPECT_EQ(handler(), "handler " + claude.string());
}

TEST_F(LinkHandlerTest, EntriesOfOtherProgramsNameTheirBundleThroughTheirExecutable)
{
    const auto applications = sandbox.dataHome() / "applications";
    for (const auto& [name, exec] : {std::pair {"other", DesktopEntry::execLine({bundleExecutable(claude)}, "%U")},
             {"plain", std::string("/bin/true %u")}}) {
        DesktopEntry entry;
        entry.set("Type", "Application");
        entry.set("Name", name);
        entry.set("Exec", exec);
        entry.write(applications / (std::string(name) + ".desktop"));
    }
    run({"/usr/bin/gio", "mime", "x-scheme-handler/claude", "other.desktop"});
    EXPECT_EQ(handler(), "handler " + claude.string());
    run({"/usr/bin/gio", "mime", "x-scheme-handler/claude", "plain.desktop"});
    EXPECT_EQ(handler(), "handler none") << "a handler outside any bundle";
    EXPECT_EQ(probe({"get", "no-scheme-here"}), Lines {"handler none"});
}

TEST_F(LinkHandlerTest, RefusalsArriveAsErrorsWithTheirReason)
{
    std::filesystem::remove(bundleExecutable(claude));
    EXPECT_THAT(probe({"set", claude.string()}),
        Contains(HasSubstr("set error The file “" + bundleExecutable(claude).string())));
    const auto anonymous = makeBundle(sandbox.root(), "Anonymous", "", "");
    EXPECT_THAT(probe({"set", anonymous.string()}), Contains(HasSubstr("set error "))) << "no identifier";

    // GLib cannot write mimeapps.list under a regular file: its own message comes through.
    writeText(sandbox.root() / "file", "");
    sandbox.set("XDG_CONFIG_HOME", (sandbox.root() / "file" / "config").string());
    const auto lines = probe({"set", korvel.string()});
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_TRUE(lines[0].starts_with("set error ") && lines[0].size() > 20) << lines[0];
    sandbox.set("XDG_CONFIG_HOME", sandbox.configHome().string());
    EXPECT_EQ(handler(), "handler none");
}

TEST_F(LinkHandlerTest, ClaudeOfALinuxInstallTakesItsLinksBackThroughItsOwnEntry)
{
    const auto root = sandbox.root() / "system";
    const auto install = StandInLinuxClaude::create(root, "1.46388.2");
    sandbox.set("XDG_DATA_DIRS", (root / "usr/share").string());
    EXPECT_EQ(probe({"set", korvel.string(), "set", install.string(), "get", probeLink}),
        (Lines {"set ok", "set ok", "handler " + install.string()}));
    EXPECT_THAT(run({"/usr/bin/gio", "mime", "x-scheme-handler/claude"}), Contains(HasSubstr("claude-desktop.desktop")))
        << "Claude's own entry, none of ours";
    EXPECT_FALSE(std::filesystem::exists(
        sandbox.dataHome() / "applications" / DesktopRegistration::fileName("com.anthropic.claudefordesktop")));

    // An install that came without an entry gets one of ours, which starts its program.
    std::filesystem::remove(root / "usr/share/applications/claude-desktop.desktop");
    EXPECT_EQ(probe({"set", install.string(), "get", probeLink}), (Lines {"set ok", "handler " + install.string()}));
}
