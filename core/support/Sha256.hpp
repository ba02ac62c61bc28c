#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// SHA-256 digests as 64 lower-case hexadecimal digits (OpenSSL underneath).
namespace Sha256 {

std::string hexOf(std::string_view bytes);
// The digest of a whole file, read in chunks; nothing when it cannot be read.
std::optional<std::string> hexOfFile(const std::filesystem::path& file) noexcept;

} // namespace Sha256
} // namespace korvel
