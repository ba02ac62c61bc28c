#pragma once

#include <filesystem>
#include <optional>

namespace korvel {

// Looks at the file system without changing it or throwing: the small questions every reader of installs and
// bundles asks.
namespace FileChecks {

// A regular file (links followed).
bool isRegularFile(const std::filesystem::path& path);
// A regular file this user may execute (links followed).
bool isExecutableFile(const std::filesystem::path& path);
// `path` absolute with every link resolved; nothing when some part of it does not exist.
std::optional<std::filesystem::path> resolved(const std::filesystem::path& path);
// What the link at `path` says; nothing when it is no link.
std::optional<std::filesystem::path> linkTarget(const std::filesystem::path& path);

} // namespace FileChecks
} // namespace korvel
