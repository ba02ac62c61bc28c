#pragma once

#include <filesystem>
#include <functional>

namespace korvel::test {

// Named pipes where a file is expected: a reader that opens one and waits for a writer would hang for ever.
namespace Fifo {

void make(const std::filesystem::path& path);

// Runs `read` and answers whether it came back by itself. When it is still waiting after a few seconds, the
// pipe is opened for writing and closed again until it returns, so that a failing test still ends.
bool readsWithoutWaiting(const std::filesystem::path& fifo, const std::function<void()>& read);

} // namespace Fifo
} // namespace korvel::test
