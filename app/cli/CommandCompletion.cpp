#include "app/cli/CommandCompletion.hpp"

#include "app/cli/CommandSyntax.hpp"

#include <algorithm>
#include <sstream>

namespace korvel {
namespace {

using Strings = std::vector<std::string>;

// The operand slots of a usage line ("PROFILE COLOR", "[PROFILE] [--json]", "on | off"): each a list of
// alternatives, options left out.
std::vector<Strings> operandSlots(std::string_view usage)
{
    std::vector<Strings> slots;
    std::istringstream words {std::string(usage)};
    bool alternative = false;
    for (std::string word; words >> word;) {
        std::erase_if(word, [](char c) { return c == '[' || c == ']'; });
        if (word == "|") {
            alternative = true;
        } else if (!word.starts_with("-")) {
            if (!alternative || slots.empty())
                slots.emplace_back();
            slots.back().push_back(word);
            alternative = false;
        } else {
            alternative = false;
        }
    }
    return slots;
}

bool isValueOption(const CommandSyntax::Command& command, std::string_view word)
{
    return std::find(command.valueOptions.begin(), command.valueOptions.end(), word) != command.valueOptions.end();
}

Strings colorNames()
{
    Strings names;
    for (const ProfileColor color : ProfileColor::allCases())
        names.push_back(color.rawValue());
    return names;
}

// What a slot's placeholders stand for: profiles, colours, or the literal words the command takes.
Strings slotCandidates(const Strings& slot, const Strings& profileNames)
{
    Strings candidates;
    for (const std::string& word : slot) {
        if (word == "PROFILE")
            candidates.insert(candidates.end(), profileNames.begin(), profileNames.end());
        else if (word == "COLOR")
            candidates = colorNames();
        else if (std::none_of(word.begin(), word.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
            candidates.push_back(word); // "on", "off"; NAME, URL… and the like are the user's to type
    }
    return candidates;
}

Strings operandCandidates(const CommandSyntax::Command& command, const Strings& typed, const Strings& profileNames)
{
    size_t operand = 0;
    bool optionsEnded = false;
    for (size_t i = 1; i + 1 < typed.size(); ++i) {
        const std::string& word = typed[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-')
            ++operand;
        else if (word == "--")
            optionsEnded = true;
        else if (isValueOption(command, word))
            ++i; // its value
    }
    const auto slots = operandSlots(command.arguments);
    return operand < slots.size() ? slotCandidates(slots[operand], profileNames) : Strings {};
}

Strings allCandidates(const Strings& words, const Strings& profileNames)
{
    if (words.size() == 1) {
        Strings names {"--help", "--version"};
        for (const auto& command : CommandSyntax::commands())
            names.emplace_back(command.name);
        return names;
    }
    const CommandSyntax::Command* command = CommandSyntax::find(words.front());
    if (!command)
        return {};
    const std::string& previous = words[words.size() - 2];
    if (isValueOption(*command, previous))
        return previous == "--color" ? colorNames() : Strings {};
    if (words.back().starts_with("-")) {
        Strings options {"--help"};
        options.insert(options.end(), command->flags.begin(), command->flags.end());
        options.insert(options.end(), command->valueOptions.begin(), command->valueOptions.end());
        return options;
    }
    return operandCandidates(*command, words, profileNames);
}

} // namespace

Strings CommandCompletion::candidates(const Strings& words, const Strings& profileNames)
{
    if (words.empty())
        return {};
    Strings candidates = allCandidates(words, profileNames);
    std::erase_if(candidates, [&](const std::string& candidate) { return !candidate.starts_with(words.back()); });
    return candidates;
}

} // namespace korvel
