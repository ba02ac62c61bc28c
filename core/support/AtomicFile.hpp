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

// Reads a whole file, opened with openForReading. Throws FileError (ReadNoSuchFile / ReadUnknown).
std::string read(const std::filesystem::path& path);

// Every file the product reads is opened here: without waiting (a named pipe or a terminal device would keep
// the reader waiting for ever) and only when it is a regular file. `flags` are added to O_RDONLY, e.g.
// O_NOFOLLOW. Returns the descriptor, which the caller closes. Throws FileError: ReadNoSuchFile, ReadUnknown
// with the errno or “it isn’t a regular file”.
int openForReading(const std::filesystem::path& path, int flags = 0);

} // namespace AtomicFile
} // namespace korvel
