#include "core/model/ClaudeVersion.hpp"

#include "core/support/UnicodeText.hpp"

#include <algorithm>
#include <cstdio>

namespace korvel::ClaudeVersion {
namespace {

bool isAlphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool looksLikeVersion(std::string_view text)
{
    return !text.empty() && text.size() <= maximumLength && isAlphanumeric(text.front()) &&
        std::all_of(text.begin(), text.end(),
            [](char c) { return isAlphanumeric(c) || std::string_view(".+-~:").find(c) != std::string_view::npos; });
}

} // namespace

std::optional<std::string> checked(std::string_view text, std::string_view source)
{
    if (looksLikeVersion(text))
        return std::string(text);
    const std::string shown = UnicodeText::escapingControls(text.substr(0, 80));
    std::fprintf(stderr,
        "Korvel: Claude Desktop’s version “%s%s” in %.*s doesn’t look like a version; taken as unknown.\n",
        shown.c_str(), text.size() > 80 ? "…" : "", static_cast<int>(source.size()), source.data());
    return std::nullopt;
}

} // namespace korvel::ClaudeVersion
