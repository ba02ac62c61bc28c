#include "app/cli/CommandSyntax.hpp"
#include "app/cli/ProfileLookup.hpp"
#include "app/cli/TextTable.hpp"
#include "app/cli/UsageError.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace korvel {
namespace {

using Arguments = std::vector<std::string>;

Invocation parsed(const Arguments& arguments)
{
    const CommandSyntax::Parsed result = CommandSyntax::parse(arguments);
    EXPECT_EQ(result.kind, CommandSyntax::Kind::Run);
    return result.invocation;
}

// The message of the usage error that `action` throws, or "no error".
std::string misuse(const std::function<void()>& action)
{
    try {
        action();
    } catch (const UsageError& error) {
        return error.what();
    }
    return "no error";
}

std::string misuse(const Arguments& arguments)
{
    return misuse([&arguments] { CommandSyntax::parse(arguments); });
}

TEST(CommandSyntax, OptionsMayComeAnywhereAndTakeTheirValueEitherWay)
{
    const Invocation create = parsed({"create", "--color", "Teal", "Work", "--open"});
    EXPECT_EQ(create.command, "create");
    EXPECT_EQ(create.operands, Arguments {"Work"});
    EXPECT_TRUE(create.has("--open"));
    EXPECT_FALSE(create.has("--import"));
    EXPECT_EQ(create.value("--color"), "Teal");
    EXPECT_EQ(CommandSyntax::color(*create.value("--color")), ProfileColor::Teal);
    EXPECT_EQ(CommandSyntax::color("GRAPHITE"), ProfileColor::Graphite);
    EXPECT_FALSE(CommandSyntax::color(""));

    EXPECT_EQ(parsed({"create", "--color=graphite", "Home"}).value("--color"), "graphite");
    // "--" ends the options, so that a name may begin with a dash; a lone "-" is a name too.
    EXPECT_EQ(parsed({"rename", "Work", "--", "--json"}).operands, (Arguments {"Work", "--json"}));
    EXPECT_EQ(parsed({"rename", "-", "x"}).operands, (Arguments {"-", "x"}));
    EXPECT_EQ(parsed({"link", "claude://a", "CLAUDE://b", "Claude:c"}).operands.size(), 3u);
}

TEST(CommandSyntax, RejectsWhatNoCommandTakes)
{
    const std::string colors =
        ". The colors are orange, red, pink, purple, indigo, blue, teal, green, yellow and graphite.";
    const std::vector<std::pair<Arguments, std::string>> cases {{{}, "Name a command."},
        {{"frobnicate"}, "There is no command “frobnicate”."},
        {{"list", "--color", "red"}, "“korvel list” has no option “--color”."},
        {{"list", "--json=yes"}, "“korvel list” has no option “--json=yes”."},
        {{"create", "Work", "--color"}, "“--color” needs a value."}, {{"rename", "Work"}, "Something is missing."},
        {{"rebuild", "Work", "Home"}, "Too many arguments."}, {{"link"}, "Something is missing."},
        {{"open"}, "Name one profile, or --all."}, {{"open", "Work", "--all"}, "Name one profile, or --all."},
        {{"claude-code", "Work", "--export", "--script"}, "Choose --export or --script, not both."},
        {{"route-links", "yes"}, "Say “on” or “off”."}, {{"mcp-servers", "On"}, "Say “on” or “off”."},
        {{"link", "--", "--gpu-launcher=x"}, "“--gpu-launcher=x” isn’t a claude:// link."},
        {{"link", "claude://a", "file:///etc/shadow"}, "“file:///etc/shadow” isn’t a claude:// link."},
        {{"link", "javascript:alert(1)"}, "“javascript:alert(1)” isn’t a claude:// link."},
        {{"link", "claudex://a"}, "“claudex://a” isn’t a claude:// link."},
        {{"recolor", "Work", "mauve"}, "There is no color “mauve”" + colors},
        {{"create", "Work", "--color=gray"}, "There is no color “gray”" + colors}};
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(misuse(arguments), message);
}

TEST(CommandSyntax, HelpAndVersion)
{
    for (const Arguments& arguments : {Arguments {"--help"}, Arguments {"-h"}, Arguments {"help"}}) {
        const auto result = CommandSyntax::parse(arguments);
        EXPECT_EQ(result.kind, CommandSyntax::Kind::Help);
        for (const auto& command : CommandSyntax::commands())
            EXPECT_NE(result.text.find("\n  " + std::string(command.name) + " "), std::string::npos) << command.name;
    }
    const auto renameHelp = CommandSyntax::parse({"rename", "--help"});
    EXPECT_EQ(renameHelp.kind, CommandSyntax::Kind::Help);
    EXPECT_EQ(renameHelp.text.rfind("Usage: korvel rename PROFILE NEWNAME\n", 0), 0u);
    // Help wins over everything else on the line, even missing arguments.
    EXPECT_EQ(CommandSyntax::parse({"move", "-h"}).kind, CommandSyntax::Kind::Help);
    EXPECT_EQ(CommandSyntax::parse({"help", "status"}).text, CommandSyntax::parse({"status", "--help"}).text);
    EXPECT_NE(CommandSyntax::parse({"list", "--help"}).text.find("\"pendingAfterRestart\""), std::string::npos);
    EXPECT_EQ(CommandSyntax::parse({"--version"}).kind, CommandSyntax::Kind::Version);
}

TEST(ProfileLookup, ExactNameThenUniqueNameInAnyCaseThenIDAndAmbiguityNamesEveryCandidate)
{
    const auto named = [](const std::string& name) { return Profile {Uuid::random(), name, ProfileColor::Teal, {}}; };
    const Profile work = named("Work");
    const Profile lowerWork = named("work");
    const Profile home = named("Home");
    const Profile strasse = named("Straße");
    const std::vector<Profile> profiles {work, lowerWork, home, strasse};
    EXPECT_EQ(ProfileLookup::find(profiles, "Work").id, work.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "work").id, lowerWork.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "HOME").id, home.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "STRASSE").id, strasse.id);
    EXPECT_EQ(ProfileLookup::find(profiles, work.id.toString()).id, work.id);
    EXPECT_EQ(ProfileLookup::find(profiles, home.id.lowerString()).id, home.id);

    const std::string ambiguous = misuse([&] { ProfileLookup::find(profiles, "WORK"); });
    EXPECT_NE(ambiguous.find("“work” (" + lowerWork.id.toString() + ")"), std::string::npos) << ambiguous;
    EXPECT_EQ(ambiguous.find("Home"), std::string::npos) << ambiguous;
    EXPECT_NE(misuse([&] { ProfileLookup::find(profiles, "Play"); }).find("“Straße”"), std::string::npos);
    EXPECT_EQ(
        misuse([] { ProfileLookup::find({}, "Work"); }), "There is no profile “Work”: there are no profiles yet.");

    // Two profiles of the very same name are told apart by ID only.
    const Profile twin = named("Work");
    EXPECT_NE(misuse([&] { ProfileLookup::find({work, twin}, "Work"); }).find(twin.id.toString()), std::string::npos);
    EXPECT_EQ(ProfileLookup::find({work, twin}, twin.id.toString()).id, twin.id);
}

TEST(TextTable, AlignsColumnsByCharactersNotBytes)
{
    EXPECT_EQ(
        TextTable::format({{"NAME", "STATUS"}, {"Straße", "Ready · Claude 1.2.3"}, {"Wo", "App not created yet"}}),
        "NAME    STATUS\n"
        "Straße  Ready · Claude 1.2.3\n"
        "Wo      App not created yet\n");
    // An empty last cell leaves no trailing blanks.
    EXPECT_EQ(TextTable::format({{"a", ""}, {"bbb", "x"}}), "a\nbbb  x\n");
    // A name's control characters are shown, not obeyed by the terminal; the columns count what is shown.
    EXPECT_EQ(TextTable::format({{"\x1b[2J\tW\x7f\u0085", "x"}, {"a", "\ab\xff"}}),
        "\\x1B[2J\\x09W\\x7F\\u0085  x\n"
        "a                       \\x07b\uFFFD\n");
}

} // namespace
} // namespace korvel
