#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace korvel {

// The product's one JSON writer: pretty-printed with two-blank indentation, " : " between key and
// value, keys sorted at every level, forward slashes escaped as "\/", non-ASCII kept as UTF-8 (bytes that are not
// UTF-8 written as U+FFFD, so that the output is always valid).
namespace JsonWriter {

std::string format(const nlohmann::json& value);

// Parses JSON text for rewriting: every real number (and every integer beyond 64 bits) is kept as its exact text,
// in a binary value that format writes back byte for byte, so that a value read and written again keeps its text.
// Discarded (is_discarded()) when the text is not JSON.
nlohmann::json parseKeepingNumbers(const std::string& text);

// Writes format(value) atomically to `target`, creating nothing but the file.
void writeFile(const nlohmann::json& value, const std::filesystem::path& target);

} // namespace JsonWriter
} // namespace korvel
