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
    // point to) and makes `to` 0700. A link in place of `from` is resolved first, so that nothing done to the
    // copy reaches the original. While it copies, a marker beside `to` (interruptedMarker) tells a later start
    // that an import broke off. A failed copy leaves nothing at `to`. Throws FileError: ReadNoSuchFile with
    // `from` when it holds no data, WriteFileExists with `to` when that is a folder with anything in it; the
    // cloner's error otherwise.
    static void importData(const std::filesystem::path& from, const std::filesystem::path& to);

    // "<to>.import-incomplete": present from before an import's copy until its end.
    static std::filesystem::path interruptedMarker(const std::filesystem::path& to);
    // Whether an import into `to` broke off (a kill, a power loss). Never throws.
    static bool wasInterrupted(const std::filesystem::path& to);
    // Removes what a broken-off import left at `to`, then its marker, and leaves the question whether to import again
    // (undecidedMarker) until decided(). Throws FileError.
    static void discardInterrupted(const std::filesystem::path& to);
    // "<to>.import-undecided": an import broke off and its part was removed; nobody has said yet whether to import
    // again or keep the folder empty.
    static std::filesystem::path undecidedMarker(const std::filesystem::path& to);
    // Whether that question is open. Never throws.
    static bool awaitsDecision(const std::filesystem::path& to);
    // Closes it. Throws FileError (RemoveUnknown).
    static void decided(const std::filesystem::path& to);
};

} // namespace korvel
