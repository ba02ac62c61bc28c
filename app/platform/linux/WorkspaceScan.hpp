#pragma once

#include "app/platform/linux/BundleInfoCache.hpp"
#include "app/platform/linux/DataFolderIndex.hpp"
#include "app/platform/linux/ProcessScanner.hpp"
#include "core/model/ClaudeInstall.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// One look at the running applications: the processes of ProcessScanner grouped by bundle, with each bundle's
// identifier. Keeps the caches of both between runs; one thread at a time.
class WorkspaceScan
{
public:
    struct Application
    {
        std::optional<std::string> bundleIdentifier;
        std::vector<ProcessScanner::Process> processes;
    };
    struct Result
    {
        std::map<std::filesystem::path, Application> applications;
        std::vector<pid_t> others; // every other process seen
        bool unsettled = false; // a young process may still exec: worth another look soon
    };

    // The applications running now; with `scope`, only those inside that (resolved) folder.
    Result run(const std::optional<std::filesystem::path>& scope);

    // Counts the processes of a Linux install of Claude as its own application (identifier Claude's). Call before
    // the first run.
    void recognise(const ClaudeInstall& install);
    // Where profile apps live, for telling which one a data folder is.
    void setAppsFolder(std::optional<std::filesystem::path> folder) { m_profiles.setFolder(std::move(folder)); }
    // Process `pid` was started from `bundle`.
    void started(pid_t pid, const std::filesystem::path& bundle);

    // Whether `bundle` lies inside `scope`.
    static bool isInside(const std::filesystem::path& bundle, const std::optional<std::filesystem::path>& scope);

private:
    ProcessScanner m_scanner;
    DataFolderIndex m_profiles;
    BundleInfoCache m_identifiers;
};

} // namespace korvel
