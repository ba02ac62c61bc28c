#pragma once

#include <string>
#include <vector>

namespace korvel {

// What the shell may complete a `korvel` command line with, from the commands' own syntax, so that the completion
// script never falls behind the program: `korvel __complete WORD…` prints the candidates for the last word.
struct CommandCompletion
{
    static constexpr std::string_view command = "__complete";

    // `words` are the words after "korvel", the last one being completed (maybe empty); the candidates begin with
    // it, one per element. A PROFILE operand offers `profileNames`.
    static std::vector<std::string> candidates(
        const std::vector<std::string>& words, const std::vector<std::string>& profileNames);
};

} // namespace korvel
