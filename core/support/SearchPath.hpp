#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace korvel {

// Finding a program the way a shell does.
namespace SearchPath {

// `program` itself when it names a path; else the first executable file of that name in a folder of $PATH
// (relative folders are skipped: the working folder is no place to find an installed program).
std::optional<std::filesystem::path> find(std::string_view program);

} // namespace SearchPath
} // namespace korvel
