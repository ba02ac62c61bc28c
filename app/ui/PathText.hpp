#pragma once

#include <QString>

#include <filesystem>

namespace korvel {

namespace PathText {

// `path` with the home folder at its start written as "~": "/home/ann/Applications" → "~/Applications".
QString abbreviatingWithTilde(const std::filesystem::path& path, const std::filesystem::path& home);
// The same with the user's home folder ($HOME).
QString abbreviatingWithTilde(const std::filesystem::path& path);

} // namespace PathText
} // namespace korvel
