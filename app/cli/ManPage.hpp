#pragma once

#include <string>
#include <string_view>

namespace korvel {

// korvel(1) in roff, written from the command table that prints --help and drives completion, so that the
// three say the same.
struct ManPage
{
    // `summary` ends the NAME line; `date` (the release's) goes into the footer.
    static std::string render(std::string_view summary, std::string_view date);

    // `text` as roff prints it back: backslashes and dashes escaped, every other character outside ASCII by
    // its code point, and a leading dot or quote kept from starting a request.
    static std::string escaped(std::string_view text);
};

} // namespace korvel
