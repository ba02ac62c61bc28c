#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvel {

// How much a folder holds, as `du -sb` counts it: the apparent size of everything in it (folders and links
// themselves included, links not followed), a file with several hard links once. Walking a big folder is slow:
// not on the main thread.
namespace FolderSize {

// Bytes under `folder`; 0 when it is missing. What cannot be read is left out.
std::uintmax_t of(const std::filesystem::path& folder);

// For people, in decimal units as file managers show sizes: "512 bytes", "12 KB", "1.2 GB".
std::string text(std::uintmax_t bytes);

} // namespace FolderSize
} // namespace korvel
