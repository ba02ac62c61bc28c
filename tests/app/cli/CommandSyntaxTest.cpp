#include "app/cli/CommandSyntax.hpp"
#include "app/cli/ProfileLookup.hpp"
#include "app/cli/TextTable.hpp"
#include "app/cli/UsageError.hpp"

#include <gtest/gtest.h>

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

// The message of the usage error that parsing `arguments` throws, or "no error".
std::string misuse(const Arguments& arguments)
{
    try {
        CommandSyntax::parse(arguments);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "no error";
}

Profile profile(const std::string& name)
{
    return Profile {Uuid::random(), name, ProfileColor::Teal, Timestamp {}};
}

std::string lookupError(const std::vector<Profile>& profiles, const std::string& text)
{
    try {
        ProfileLookup::find(profiles, text);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "no error";
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

    EXPECT_EQ(parsed({"create", "--color=graphite", "Home"}).value("--color"), "graphite");
    // "--" ends the options, so that a name may begin with a dash; a lone "-" is a name too.
    EXPECT_EQ(parsed({"rename", "Work", "--", "--json"}).operands, (Arguments {"Work", "--json"}));
    EXPECT_EQ(parsed({"rename", "-", "x"}).operands, (Arguments {"-", "x"}));
    EXPECT_EQ(parsed({"link", "claude://a", "claude://b", "claude://c"}).operands.size(), 3u);
}

TEST(CommandSyntax, RejectsWhatNoCommandTakes)
{
    EXPECT_EQ(misuse({}), "Name a command.");
    EXPECT_EQ(misuse({"frobnicate"}), "There is no command “frobnicate”.");
    EXPECT_EQ(misuse({"list", "--color", "red"}), "“korvel list” has no option “--color”.");
    EXPECT_EQ(misuse({"list", "--json=yes"}), "“korvel list” has no option “--json=yes”.");
    EXPECT_EQ(misuse({"create", "Work", "--color"}), "“--color” needs a value.");
    EXPECT_EQ(misuse({"rename", "Work"}), "Something is missing.");
    EXPECT_EQ(misuse({"rebuild", "Work", "Home"}), "Too many arguments.");
    EXPECT_EQ(misuse({"link"}), "Something is missing.");
    EXPECT_EQ(misuse({"open"}), "Name one profile, or --all.");
    EXPECT_EQ(misuse({"open", "Work", "--all"}), "Name one profile, or --all.");
    EXPECT_EQ(misuse({"claude-code", "Work", "--export", "--script"}), "Choose --export or --script, not both.");
    EXPECT_EQ(misuse({"route-links", "yes"}), "Say “on” or “off”.");
}

TEST(CommandSyntax, UnknownColorsListTheTen)
{
    const std::string ten = "orange, red, pink, purple, indigo, blue, teal, green, yellow and graphite";
    EXPECT_EQ(misuse({"recolor", "Work", "mauve"}), "There is no color “mauve”. The colors are " + ten + ".");
    EXPECT_EQ(misuse({"create", "Work", "--color=gray"}), "There is no color “gray”. The colors are " + ten + ".");
    EXPECT_EQ(CommandSyntax::color("GRAPHITE"), ProfileColor::Graphite);
    EXPECT_FALSE(CommandSyntax::color(""));
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

TEST(ProfileLookup, ExactNameThenUniqueNameInAnyCaseThenID)
{
    const Profile work = profile("Work");
    const Profile lowerWork = profile("work");
    const Profile home = profile("Home");
    const Profile strasse = profile("Straße");
    const std::vector<Profile> profiles {work, lowerWork, home, strasse};

    EXPECT_EQ(ProfileLookup::find(profiles, "Work").id, work.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "work").id, lowerWork.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "HOME").id, home.id);
    EXPECT_EQ(ProfileLookup::find(profiles, "STRASSE").id, strasse.id);
    EXPECT_EQ(ProfileLookup::find(profiles, work.id.toString()).id, work.id);
    EXPECT_EQ(ProfileLookup::find(profiles, home.id.lowerString()).id, home.id);

    const std::string ambiguous = lookupError(profiles, "WORK");
    EXPECT_NE(ambiguous.find("“Work” (" + work.id.toString() + ")"), std::string::npos) << ambiguous;
    EXPECT_NE(ambiguous.find("“work” (" + lowerWork.id.toString() + ")"), std::string::npos) << ambiguous;
    EXPECT_EQ(ambiguous.find("Home"), std::string::npos) << ambiguous;

    const std::string unknown = lookupError(profiles, "Play");
    EXPECT_EQ(unknown.rfind("There is no profile “Play”. The profiles are “Work” (", 0), 0u) << unknown;
    EXPECT_NE(unknown.find("“Straße”"), std::string::npos);
    EXPECT_EQ(lookupError({}, "Work"), "There is no profile “Work”: there are no profiles yet.");
}

TEST(ProfileLookup, TwoProfilesWithTheSameExactNameAreAmbiguous)
{
    const Profile first = profile("Work");
    const Profile second = profile("Work");
    const std::string message = lookupError({first, second}, "Work");
    EXPECT_NE(message.find(first.id.toString()), std::string::npos);
    EXPECT_NE(message.find(second.id.toString()), std::string::npos);
    EXPECT_EQ(ProfileLookup::find({first, second}, second.id.toString()).id, second.id);
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
}

} // namespace
} // namespace korvel
