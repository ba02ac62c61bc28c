#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// Copies a whole Claude data folder into a new profile's empty data folder. Stateless.
struct DataImporter
{
    // "SingletonLock", "SingletonCookie", "SingletonSocket", "RunningChromeVersion".
    static const std::vector<std::string>& lockFiles();
    // Whether "Local State" or else "config.json" is reachable in the folder (links followed). Never throws.
    static bool hasImportableData(const std::filesystem::path& folder);
    // Clones `from` to `to` (parents created), removes the lock entries from the copy (never what they
    // point to) and makes `to` 0700. Throws FileError: ReadNoSuchFile with `from` when it holds no data,
    // WriteFileExists with `to` when that is a folder with anything in it; the cloner's error otherwise.
    static void importData(const std::filesystem::path& from, const std::filesystem::path& to);
};

} // namespace korvel
