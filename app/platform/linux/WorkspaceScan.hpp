#pragma once

#include "app/platform/linux/BundleIdentifierCache.hpp"
#include "app/platform/linux/ProcessScanner.hpp"
#include "core/model/ClaudeInstall.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// One look at the running bundles: the processes of ProcessScanner grouped by bundle, with each bundle's
// identifier. Keeps the caches of both between runs; one thread at a time.
class WorkspaceScan
{
public:
    struct Application
    {
        std::optional<std::string> bundleIdentifier;
        std::vector<ProcessScanner::Process> processes;
    };
    using Result = std::map<std::filesystem::path, Application>;

    // The bundles running now; with `scope`, only those inside that (resolved) folder.
    Result run(const std::optional<std::filesystem::path>& scope);

    // Counts the processes of a Linux install of Claude as its own application (identifier Claude's). Call before
    // the first run.
    void recognise(const ClaudeInstall& install);

    // Whether `bundle` lies inside `scope`.
    static bool isInside(const std::filesystem::path& bundle, const std::optional<std::filesystem::path>& scope);

private:
    ProcessScanner m_scanner;
    BundleIdentifierCache m_identifiers;
};

} // namespace korvel
