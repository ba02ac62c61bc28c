#include "core/support/JsonText.hpp"

namespace korvel::JsonText {

nlohmann::json parse(std::string_view text, std::string* problem)
{
    bool tooDeep = false;
    // Values below the limit are dropped as they are read, so that no deep value is ever built.
    const nlohmann::json::parser_callback_t keepShallow = [&tooDeep](int depth, nlohmann::json::parse_event_t,
                                                              nlohmann::json&) {
        if (depth <= depthLimit)
            return true;
        tooDeep = true;
        return false;
    };
    nlohmann::json value = nlohmann::json::parse(text.begin(), text.end(), keepShallow, false);
    if (!value.is_discarded() && !tooDeep)
        return value;
    if (problem) {
        *problem = value.is_discarded() && !tooDeep
            ? "it is not valid JSON"
            : "its arrays and objects are nested more than " + std::to_string(depthLimit) + " deep";
    }
    return nlohmann::json(nlohmann::json::value_t::discarded);
}

} // namespace korvel::JsonText
