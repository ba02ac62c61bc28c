#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Starting programs that live on after Korvel: in a session of their own, not Korvel's children (so nothing
// has to wait for them), with arguments passed as they are, never through a shell.
namespace DetachedProcess {

// Starts `program` (a path, or a bare name looked up in PATH) with `arguments` and returns its process id. It gets
// Korvel's environment without the startup token Korvel itself was started with, which is spent; with
// `activationToken`, that one instead, for the program to bring its window forward with.
// Throws std::runtime_error with the reason when it cannot be started.
pid_t start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
    const std::optional<std::string>& activationToken = std::nullopt);

} // namespace DetachedProcess
} // namespace korvel
