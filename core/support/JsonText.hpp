#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace korvel {

// The product's one way of reading JSON text. nlohmann's parser itself keeps its own stack, but copying,
// comparing and writing a value recurse once per level: a file nested tens of thousands deep would overflow the
// stack of whoever handles it. Nothing Korvel or Claude writes nests more than a few levels.
namespace JsonText {

inline constexpr int depthLimit = 512;

// The value of `text`, or a discarded value (is_discarded()) when it is not JSON or its arrays and objects nest
// deeper than depthLimit; `problem`, when given, then says which in a few words ("it is not valid JSON").
nlohmann::json parse(std::string_view text, std::string* problem = nullptr);

} // namespace JsonText
} // namespace korvel
