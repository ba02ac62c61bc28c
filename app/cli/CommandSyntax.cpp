#include "app/cli/CommandSyntax.hpp"

#include "app/cli/TextTable.hpp"
#include "app/cli/UsageError.hpp"
#include "core/model/ClaudeDesktop.hpp"

#include <algorithm>
#include <cctype>
#include <limits>

namespace korvel {
namespace {

constexpr size_t any = std::numeric_limits<size_t>::max();

constexpr std::string_view statusSchema =
    "  \"status\": {\"kind\": \"ready\" | \"outdated\" | \"damaged\" | \"sourceMissing\" | \"notBuilt\",\n"
    "             \"summary\": the status line, \"needsBuild\": bool,\n"
    "             \"version\" (ready), \"installed\" and \"available\" (outdated), \"reason\" (damaged)}\n";

std::vector<CommandSyntax::Command> makeCommands()
{
    using C = CommandSyntax::Command;
    return {
        C {"list", "[--json] [--sizes]", "Profiles in order: name, color, status and whether their app runs",
            "With --json: {\"profiles\": [{\"position\": 1, \"id\", \"name\", \"color\", \"status\", \"running\": "
            "bool,\n"
            "\"active\": bool, \"busy\": progress text or null, \"app\": the app’s path,\n"
            "\"pendingAfterRestart\": {\"sessions\", \"pins\"} or null,\n"
            "\"dataSize\": bytes in its data folder (with --sizes, which walks the folders)}, …]}, where\n",
            {"--json", "--sizes"}, {}, 0, 0, true},
        C {"status", "[PROFILE] [--json]", "Health of one or every profile app, checked on disk",
            "Prints the status line of each profile app as Korvel shows it.\n"
            "With --json: {\"profiles\": [{\"id\", \"name\", \"status\"}, …]}, where\n",
            {"--json"}, {}, 0, 1, true},
        C {"create", "NAME [--color C] [--import] [--open]", "Create a profile and build its app",
            "--color C  the badge color (default: the first color no profile uses, else blue)\n"
            "--import   start from a copy of Claude Desktop’s current data (quit Claude first)\n"
            "--open     open the new profile’s app once it is built\n"
            "Prints the new profile’s ID.\n",
            {"--import", "--open"}, {"--color"}, 1, 1},
        C {"rename", "PROFILE NEWNAME", "Rename a profile and rebuild its app", "", {}, {}, 2, 2},
        C {"recolor", "PROFILE COLOR", "Change a profile’s color and rebuild its app", "", {}, {}, 2, 2},
        C {"move", "PROFILE POSITION", "Move a profile to a position in the list (the first is 1)", "", {}, {}, 2, 2},
        C {"delete", "PROFILE [--trash-data]", "Delete a profile and its app",
            "The profile’s data stays on disk unless --trash-data moves it to the Trash.\n"
            "Prints how much local data the profile had and where it is now.\n",
            {"--trash-data"}, {}, 1, 1},
        C {"rebuild", "PROFILE", "Build a profile’s app again", "", {}, {}, 1, 1},
        C {"open", "PROFILE | --all", "Open a profile’s app, or every app in list order",
            "Builds the app first when it needs it.\n", {"--all"}, {}, 0, 1},
        C {"restart", "PROFILE", "Quit a profile’s app and open it again", "", {}, {}, 1, 1},
        C {"import", "PROFILE [--keep-empty]", "Import Claude Desktop’s data into a profile, or keep it empty",
            "Copies Claude Desktop’s current data into the profile’s empty data folder (quit Claude first), as\n"
            "after an import that broke off.\n"
            "--keep-empty  keep the folder of an import that broke off empty instead\n",
            {"--keep-empty"}, {}, 1, 1},
        C {"sync", "[--json]", "Bring sessions and pins over from Claude Desktop once",
            "Prints what was brought into each profile. A running app shows it after a restart.\n"
            "With --json: {\"profiles\": [{\"id\", \"name\", \"running\": bool, \"sessions\": copied,\n"
            "\"pins\": merged, \"pinsWaiting\": waiting for the app to quit, \"mcpServers\": added,\n"
            "\"mcpServersWaiting\": waiting for the app to quit}, …]}\n",
            {"--json"}, {}, 0, 0},
        C {"link", "URL…", "Hand claude:// links to the profile in use, as Korvel does", "", {}, {}, 1, any},
        C {"route-links", "on | off", "Send claude:// links to the profile in use, or to Claude Desktop", "", {}, {}, 1,
            1},
        C {"mcp-servers", "on | off", "Bring MCP servers from Claude into profiles when syncing, or stop",
            "Each sync adds the servers of Claude Desktop’s configuration that a profile has never had.\n", {}, {}, 1,
            1},
        C {"claude-code", "PROFILE [--export | --script]", "Open Claude Code signed in as a profile",
            "Opens a terminal running Claude Code with the profile’s own configuration folder.\n"
            "--export  print the shell line that sets that folder instead\n"
            "--script  write the terminal command file and print its path instead\n",
            {"--export", "--script"}, {}, 1, 1},
        C {"switcher", "", "Show the profile switcher, starting Korvel when it isn’t running",
            "For a shortcut of the desktop’s own keyboard settings, and for scripts.\n", {}, {}, 0, 0, true},
    };
}

UsageError misuse(const std::string& message, const CommandSyntax::Command& command)
{
    return UsageError(message, CommandSyntax::usage(command));
}

bool contains(const std::vector<std::string_view>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Options may come anywhere; "--" ends them, so that a name may begin with "-".
Invocation split(const CommandSyntax::Command& command, const std::vector<std::string>& arguments, bool& help)
{
    Invocation invocation {std::string(command.name), {}, {}, {}};
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            invocation.operands.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else {
            const size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            if (contains(command.flags, name) && equals == std::string::npos) {
                invocation.flags.insert(name);
            } else if (contains(command.valueOptions, name)) {
                if (equals != std::string::npos)
                    invocation.values[name] = argument.substr(equals + 1);
                else if (i + 1 < arguments.size())
                    invocation.values[name] = arguments[++i];
                else
                    throw misuse("“" + name + "” needs a value.", command);
            } else {
                throw misuse("“korvel " + std::string(command.name) + "” has no option “" + argument + "”.", command);
            }
        }
    }
    return invocation;
}

void checkOperandCount(const CommandSyntax::Command& command, const Invocation& invocation)
{
    if (invocation.operands.size() < command.minOperands)
        throw misuse("Something is missing.", command);
    if (invocation.operands.size() > command.maxOperands)
        throw misuse("Too many arguments.", command);
}

// What the profiles are not needed for.
void checkValues(const CommandSyntax::Command& command, const Invocation& invocation)
{
    const std::string& name = invocation.command;
    const auto color = name == "recolor" ? std::optional(invocation.operands[1]) : invocation.value("--color");
    if (color && !CommandSyntax::color(*color))
        throw misuse("There is no color “" + *color + "”. The colors are " + CommandSyntax::colorList() + ".", command);
    if (name == "open" && invocation.operands.empty() == !invocation.has("--all"))
        throw misuse("Name one profile, or --all.", command);
    if (name == "claude-code" && invocation.has("--export") && invocation.has("--script"))
        throw misuse("Choose --export or --script, not both.", command);
    if ((name == "route-links" || name == "mcp-servers") && invocation.operands[0] != "on" &&
        invocation.operands[0] != "off")
        throw misuse("Say “on” or “off”.", command);
    if (name == "link") {
        for (const std::string& link : invocation.operands)
            if (!ClaudeDesktop::isLink(link))
                throw misuse("“" + link + "” isn’t a claude:// link.", command);
    }
}

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

} // namespace

std::optional<std::string> Invocation::value(std::string_view option) const
{
    const auto it = values.find(std::string(option));
    return it == values.end() ? std::nullopt : std::optional(it->second);
}

const std::vector<CommandSyntax::Command>& CommandSyntax::commands()
{
    static const std::vector<Command> all = makeCommands();
    return all;
}

const CommandSyntax::Command* CommandSyntax::find(std::string_view name)
{
    const auto& all = commands();
    const auto it = std::find_if(all.begin(), all.end(), [name](const Command& c) { return c.name == name; });
    return it == all.end() ? nullptr : &*it;
}

bool CommandSyntax::readsOnly(const Invocation& invocation)
{
    const Command* command = find(invocation.command);
    return (command && command->readsOnly) || (invocation.command == "claude-code" && invocation.has("--export"));
}

CommandSyntax::Parsed CommandSyntax::parse(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        throw UsageError("Name a command.");
    const std::string& first = arguments[0];
    if (first == "--help" || first == "-h" || (first == "help" && arguments.size() == 1))
        return {Kind::Help, {}, overview()};
    if (first == "--version")
        return {Kind::Version, {}, version()};
    if (first == "help") {
        const Command* command = find(arguments[1]);
        if (!command)
            throw UsageError("There is no command “" + arguments[1] + "”.");
        return {Kind::Help, {}, help(*command)};
    }
    const Command* command = find(first);
    if (!command)
        throw UsageError("There is no command “" + first + "”.");
    bool wantsHelp = false;
    Invocation invocation = split(*command, arguments, wantsHelp);
    if (wantsHelp)
        return {Kind::Help, {}, help(*command)};
    checkOperandCount(*command, invocation);
    checkValues(*command, invocation);
    return {Kind::Run, std::move(invocation), {}};
}

std::string CommandSyntax::usage(const Command& command)
{
    return "korvel " + std::string(command.name) + (command.arguments.empty() ? "" : " ") +
        std::string(command.arguments);
}

std::string CommandSyntax::overview()
{
    std::string text = "Usage: korvel COMMAND [ARGUMENTS]\n\n" + std::string(introduction()) + "\nCommands:\n";
    for (const Command& command : commands()) {
        std::string line = "  " + usage(command).substr(std::string_view("korvel ").size());
        const size_t width = TextTable::width(line);
        line += width < 44 ? std::string(44 - width, ' ') : "\n" + std::string(44, ' ');
        text += line + std::string(command.summary) + "\n";
    }
    text += "\n" + std::string(profileRule()) + "The colors are " + colorList() + ".\n\n" + std::string(exitStatus()) +
        "\n"
        "“korvel COMMAND --help” tells more, including the JSON that --json prints.\n"
        "“korvel --version” prints the version.\n";
    return text;
}

std::string CommandSyntax::help(const Command& command)
{
    std::string text = "Usage: " + usage(command) + "\n\n" + std::string(command.summary) + ".\n";
    const std::string more = details(command);
    if (!more.empty())
        text += "\n" + more;
    if (command.arguments.find("PROFILE") != std::string_view::npos)
        text += "\n" + std::string(profileRule());
    return text;
}

std::string_view CommandSyntax::introduction()
{
    return "Drives Korvel’s profiles. While Korvel runs, the command runs there and its windows show the\n"
           "change at once; otherwise it runs here.\n";
}

std::string_view CommandSyntax::profileRule()
{
    return "A PROFILE is named by its exact name, else by its name in any letter case when only one profile has "
           "it,\nelse by its ID.\n";
}

std::string_view CommandSyntax::exitStatus()
{
    return "Exit status: 0 done (problems of other profiles are warnings on standard error); 1 the operation\n"
           "failed (why, on standard error); 2 the command was wrong; 3 create kept the profile without its app\n"
           "or its imported data.\n"
           "Progress of long work goes to standard error when that is a terminal.\n";
}

std::string CommandSyntax::details(const Command& command)
{
    std::string text(command.details);
    if (contains(command.flags, "--json") && command.name != "sync")
        text += statusSchema;
    return text;
}

std::string CommandSyntax::version()
{
    return "korvel " KORVEL_VERSION "\n";
}

std::optional<ProfileColor> CommandSyntax::color(std::string_view name)
{
    return ProfileColor::fromRawValue(lowerAscii(name));
}

std::string CommandSyntax::colorList()
{
    std::string list;
    const auto& all = ProfileColor::allCases();
    for (size_t i = 0; i < all.size(); ++i)
        list += (i == 0 ? "" : i + 1 == all.size() ? " and " : ", ") + all[i].rawValue();
    return list;
}

} // namespace korvel
