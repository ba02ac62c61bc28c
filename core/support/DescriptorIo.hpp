#pragma once

#include <string>
#include <string_view>

namespace korvel {

// Whole reads and writes on an open file descriptor, going on after interrupted calls. The one loop of each kind
// for every reader and writer of files and pipes in the core.
namespace DescriptorIo {

// Writes all of `bytes`; false with errno set when a write fails.
bool writeAll(int fd, std::string_view bytes);
// Appends everything up to the end of input to `bytes`; false with errno set when a read fails.
bool readAll(int fd, std::string& bytes);
// The same, stopping once `limit` bytes were appended: for readers that refuse what is larger, or read in chunks.
bool readUpTo(int fd, std::string& bytes, size_t limit);

} // namespace DescriptorIo
} // namespace korvel
