#include "core/support/JsonText.hpp"

namespace korvel::JsonText {
namespace {

// Whether arrays and objects nest deeper than depthLimit anywhere in `text`, brackets inside strings aside. A scan
// of its own: nlohmann's callback parser, the other way to stop at a depth, costs time quadratic in the number of
// members of an object or array (it searches the parent for a dropped member after every object).
bool nestsTooDeep(std::string_view text)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if ((c == '[' || c == '{') && ++depth > depthLimit)
            return true;
        else if (c == ']' || c == '}')
            --depth;
    }
    return false;
}

} // namespace

nlohmann::json parse(std::string_view text, std::string* problem)
{
    const bool tooDeep = nestsTooDeep(text);
    nlohmann::json value = tooDeep ? nlohmann::json(nlohmann::json::value_t::discarded)
                                   : nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (!value.is_discarded())
        return value;
    if (problem) {
        *problem = tooDeep ? "its arrays and objects are nested more than " + std::to_string(depthLimit) + " deep"
                           : "it is not valid JSON";
    }
    return value;
}

} // namespace korvel::JsonText
