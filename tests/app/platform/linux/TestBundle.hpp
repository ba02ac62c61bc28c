#pragma once

#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Application bundles laid out by hand for the platform tests (X.app/Contents/Info.plist and the executable
// Contents/MacOS/X), with POSIX sh scripts or copies of programs as executables.
namespace korvel::test {

// Shell lines that write the script's arguments to `file`, each followed by a NUL byte. Through a temporary
// file, so that a reader never sees half of them.
inline std::string recordArguments(const std::filesystem::path& file)
{
    const std::string name = "'" + file.string() + "'";
    return "printf '%s\\0' \"$@\" > " + name + ".tmp && /bin/mv " + name + ".tmp " + name + "\n";
}

inline std::string recordingScript(const std::filesystem::path& file)
{
    return "#!/bin/sh\n" + recordArguments(file);
}

// Stays running until SIGTERM, then exits 0; records its arguments first when given a file.
inline std::string stayingScript(const std::optional<std::filesystem::path>& file = std::nullopt)
{
    // sh runs a trap only between commands, so the wait must be interruptible. A sleep that outlives the script
    // (a SIGTERM right between its start and `child=`) must not hold the test's output open.
    return "#!/bin/sh\n" + (file ? recordArguments(*file) : "") +
        "trap 'kill $child 2>/dev/null; exit 0' TERM\n"
        "sleep 1000 </dev/null >/dev/null 2>&1 & child=$!\n"
        "wait $child\n";
}

// The contents of a program that sleeps for as many seconds as its first argument says.
inline std::string sleepProgram()
{
    return readText("/bin/sleep");
}

inline std::filesystem::path bundleExecutable(const std::filesystem::path& bundle)
{
    return bundle / "Contents" / "MacOS" / bundle.stem();
}

// `folder`/`name`.app named `name`, with the executable `name` holding `executable`, and CFBundleIdentifier
// `identifier` (none when empty).
inline std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
    const std::string& identifier, const std::string& executable)
{
    const std::filesystem::path bundle = folder / (name + ".app");
    writeExecutable(bundleExecutable(bundle), executable);
    PlistDictionary plist {{"CFBundleName", name}, {"CFBundleExecutable", name}, {"CFBundlePackageType", "APPL"}};
    if (!identifier.empty())
        plist["CFBundleIdentifier"] = identifier;
    InfoPlistPatcher::write(plist, bundle / "Contents" / "Info.plist");
    return bundle;
}

inline void addURLScheme(const std::filesystem::path& bundle, const std::string& scheme)
{
    const std::filesystem::path file = bundle / "Contents" / "Info.plist";
    PlistDictionary plist = InfoPlistPatcher::read(file);
    plist["CFBundleURLTypes"] =
        PlistArray {PlistDictionary {{"CFBundleURLName", scheme}, {"CFBundleURLSchemes", PlistArray {scheme}}}};
    InfoPlistPatcher::write(plist, file);
}

// The arguments a recording script wrote to `file`; none while it is missing.
inline std::vector<std::string> recordedArguments(const std::filesystem::path& file)
{
    std::vector<std::string> arguments;
    std::string text = std::filesystem::exists(file) ? readText(file) : "";
    for (size_t end; (end = text.find('\0')) != std::string::npos; text.erase(0, end + 1))
        arguments.push_back(text.substr(0, end));
    return arguments;
}

} // namespace korvel::test
