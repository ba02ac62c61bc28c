#pragma once

#include <filesystem>

namespace korvel {

// Korvel's place on disk. The offer to move it into an Applications folder is built on this by the interface.
namespace MoveToApplications {

// True when `bundle` lies in /Applications or in the Applications folder of `home`.
bool isInApplications(const std::filesystem::path& bundle, const std::filesystem::path& home);

} // namespace MoveToApplications
} // namespace korvel
