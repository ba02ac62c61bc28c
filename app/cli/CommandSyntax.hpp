#pragma once

#include "core/model/ProfileColor.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// One command as typed: its name, its operands in order and its options.
struct Invocation
{
    std::string command;
    std::vector<std::string> operands;
    std::set<std::string> flags; // "--json", "--all", …
    std::map<std::string, std::string> values; // "--color" → "teal"

    bool has(std::string_view flag) const { return flags.contains(std::string(flag)); }
    std::optional<std::string> value(std::string_view option) const;
};

// The commands of `korvel`: their arguments, options and help, and the parsing of an argument list. Everything
// that can be checked without the profiles is checked here, so that bad input never reaches a running Korvel.
struct CommandSyntax
{
    struct Command
    {
        std::string_view name;
        std::string_view arguments; // as in the usage line: "PROFILE NEWNAME"
        std::string_view summary; // one line of the overview
        std::string_view details; // the rest of `korvel NAME --help`
        std::vector<std::string_view> flags;
        std::vector<std::string_view> valueOptions;
        size_t minOperands = 0;
        size_t maxOperands = 0;
        bool readsOnly = false; // changes nothing and starts nothing
    };

    enum class Kind { Run, Help, Version };
    struct Parsed
    {
        Kind kind = Kind::Run;
        Invocation invocation; // Run
        std::string text; // Help and Version: what to print
    };

    static const std::vector<Command>& commands();
    static const Command* find(std::string_view name);
    // Whether the invocation changes nothing on disk and starts nothing: the read-only commands and
    // `claude-code PROFILE --export`.
    static bool readsOnly(const Invocation& invocation);

    // `arguments` without the program name. Throws UsageError.
    static Parsed parse(const std::vector<std::string>& arguments);

    static std::string overview();
    static std::string help(const Command& command);
    // The pieces of the help that the manual page shows too.
    static std::string_view introduction(); // what the command line does, before the list of commands
    static std::string_view profileRule(); // how a PROFILE is named
    static std::string_view exitStatus(); // the exit statuses, and where progress goes
    static std::string details(const Command& command); // what `help` adds after the summary, JSON included
    static std::string usage(const Command& command);
    static std::string version();

    // A colour by its name in any letter case.
    static std::optional<ProfileColor> color(std::string_view name);
    static std::string colorList(); // "orange, red, … and graphite"
};

} // namespace korvel
