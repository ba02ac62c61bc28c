#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// The product's one way of writing a file: a temporary file in the same folder, flushed to disk,
// then renamed over the target, so that a reader never sees a half-written file and a failed write
// leaves the previous file intact. The temporary file never stays behind on failure.
namespace AtomicFile {

// Replaces `target` with `bytes`. A new file gets the default mode (0666 less the umask); a replaced
// file keeps its mode. Throws FileError (WriteUnknown) with `target` and the errno.
void write(const std::filesystem::path& target, std::string_view bytes);

// Reads a whole file. Throws FileError (ReadNoSuchFile / ReadUnknown).
std::string read(const std::filesystem::path& path);

} // namespace AtomicFile
} // namespace korvel
