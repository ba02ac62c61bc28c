#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace korvel::test {

// Application bundles laid out by hand for the platform tests: X.app/Contents/Info.plist and an executable in
// Contents/MacOS, either a POSIX sh script or a copy of a program we built.
struct TestBundle
{
    // A script that stays running until SIGTERM (then exits 0). With `argumentsFile`, it first writes its
    // arguments there, each followed by a NUL byte.
    static std::string stayingScript(const std::optional<std::filesystem::path>& argumentsFile = std::nullopt);
    // A script that writes its arguments to `argumentsFile` as above and exits 0.
    static std::string recordingScript(const std::filesystem::path& argumentsFile);

    // `folder`/`name`.app with CFBundleIdentifier `identifier` (none when empty), CFBundleExecutable
    // `executableName` and the script `script` as that executable (mode 0755).
    static std::filesystem::path withScript(const std::filesystem::path& folder, const std::string& name,
        const std::string& identifier, const std::string& executableName, const std::string& script);
    // The same with a copy of `program` as the executable.
    static std::filesystem::path withProgram(const std::filesystem::path& folder, const std::string& name,
        const std::string& identifier, const std::string& executableName, const std::filesystem::path& program);

    // Declares `scheme` in CFBundleURLTypes.
    static void addURLScheme(const std::filesystem::path& bundle, const std::string& scheme);
    static std::filesystem::path executable(const std::filesystem::path& bundle);
};

} // namespace korvel::test
