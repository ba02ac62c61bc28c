#pragma once

// Declared here as the contract for its callers; implemented in SystemTools.cpp.

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

// The only place in the core that starts system tools or clones a folder tree. Stateless.
struct SystemTools
{
    // Where the three tools live. On Linux: $KORVEL_TOOLS_DIR when set (tests point it at scripts),
    // else the Helpers folder of the Korvel.app bundle that holds this library.
    struct ToolPaths
    {
        std::filesystem::path codesign;
        std::filesystem::path xattr;
        std::filesystem::path lsregister;
    };
    static ToolPaths toolPaths();
    // Whether `tool` is Korvel's own helper (korvel-tool in the Helpers folder): then the operations below do its
    // work in this process instead of starting it, which costs more than the work.
    static bool isOwnHelper(const std::filesystem::path& tool);

    // Runs `path` (taken literally, no shell, no search path) with `arguments`; stdout and stderr share
    // one pipe. Returns the output on exit status 0; throws CommandError otherwise, and
    // std::system_error when the tool cannot be started.
    static std::string run(const std::filesystem::path& path, const std::vector<std::string>& arguments);

    // Reproduces the tree at `destination`: links recreated as links, modes, times and extended attributes
    // kept, files cloned (FICLONE) where possible, else copied. Throws FileError (WriteUnknown) with the
    // destination path and errno.
    static void cloneTree(const std::filesystem::path& source, const std::filesystem::path& destination);

    static void removeQuarantine(const std::filesystem::path& bundle); // never throws
    static void adHocSign(const std::filesystem::path& bundle); // throws what run throws
    static void verifySignature(const std::filesystem::path& bundle); // throws what run throws
    static void unregisterFromLaunchServices(const std::filesystem::path& bundle); // never throws
    static void registerWithLaunchServices(const std::filesystem::path& bundle); // never throws
};

} // namespace korvel
