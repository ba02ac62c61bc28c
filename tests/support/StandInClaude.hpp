#pragma once

#include "core/building/PlistValue.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvel::test {

struct StandInOptions
{
    std::string version = "1.2.3"; // CFBundleShortVersionString
    // Extra files under Contents/Resources/payload for benchmarks: about this many, together this large.
    int payloadFiles = 0;
    std::uint64_t payloadBytes = 0;
};

// A stand-in for Claude Desktop's bundle, shaped like the real one: an Info.plist with the keys Korvel reads
// and rewrites (and values of every property-list type), an ICNS icon, an executable that records how it was
// started (see StandInRecord), nested helper apps and an Electron-like framework with relative symlinks.
//
// The executable, Contents/MacOS/Claude, is a POSIX sh script. It appends a record to the file named by
// KORVEL_STANDIN_RECORD, else to "<data folder>/standin-record.txt" for the first --user-data-dir=<data folder>
// argument (no record without either), then exits 0 — or, with KORVEL_STANDIN_STAY=1, keeps running until
// SIGTERM, on which it exits 0.
struct StandInClaude
{
    using Options = StandInOptions;

    static constexpr std::string_view bundleIdentifier = "com.anthropic.claudefordesktop";
    static constexpr std::string_view stayVariable = "KORVEL_STANDIN_STAY"; // "1": keep running until SIGTERM

    // Lays out `folder`/Claude.app (the folder is created if needed) and returns the bundle's path.
    static std::filesystem::path create(const std::filesystem::path& folder, const Options& options = {});

    static std::filesystem::path executable(const std::filesystem::path& bundle)
    {
        return bundle / "Contents/MacOS/Claude";
    }
    // The record file the executable writes for data folder `dataDir` when KORVEL_STANDIN_RECORD is unset.
    static std::filesystem::path recordFile(const std::filesystem::path& dataDir)
    {
        return dataDir / "standin-record.txt";
    }

    // Makes `bundle` a profile app by hand, for testing the launcher alone: copies `launcher` in as
    // Contents/MacOS/KorvelLauncher (mode 0755), points CFBundleExecutable at it and sets "KVLUserDataDir" to
    // `dataDir`, or removes that key when there is none.
    static void installLauncher(const std::filesystem::path& bundle, const std::filesystem::path& launcher,
        const std::optional<std::string>& dataDir);

    // Sets, or with nullopt removes, one entry of bundle/Contents/Info.plist (rewritten as XML).
    static void setInfo(const std::filesystem::path& bundle, const std::string& key, std::optional<PlistValue> value);
    static void convertInfoToBinary(const std::filesystem::path& bundle);
};

} // namespace korvel::test
