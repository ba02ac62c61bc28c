#pragma once

#include "core/model/AppPaths.hpp"
#include "core/model/Profile.hpp"
#include "core/model/ProfileStore.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace korvel::test {

// A home of its own for the real `korvel` program: HOME, the XDG folders and the runtime folder in a temporary
// folder, a stand-in Claude Desktop, a terminal that records what it was asked to run, no display.
class KorvelHome
{
public:
    using Environment = std::map<std::string, std::optional<std::string>>;

    struct Result
    {
        int status = -1;
        std::string output;
        std::string errorOutput;
        friend bool operator==(const Result&, const Result&) = default;
        friend void PrintTo(const Result& result, std::ostream* out)
        {
            *out << "status " << result.status << ", output “" << result.output << "”, errors “" << result.errorOutput
                 << "”";
        }
    };
    static inline const Result succeeded {0, "", ""};

    KorvelHome();
    ~KorvelHome();
    KorvelHome(const KorvelHome&) = delete;
    KorvelHome& operator=(const KorvelHome&) = delete;

    // Runs `korvel` with the arguments, the sandbox environment and `extra` on top of it.
    Result korvel(const std::vector<std::string>& arguments, const Environment& extra = {}) const;
    // The same through the given program path and argument zero (for the dispatch by name).
    Result run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
        const Environment& extra = {}) const;

    static std::filesystem::path korvelProgram() { return std::filesystem::path(KORVEL_BINARY_DIR) / "korvel"; }
    static std::filesystem::path applicationProgram()
    {
        return std::filesystem::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/MacOS/Korvel";
    }

    std::vector<Profile> storedProfiles() const { return ProfileStore(paths.profilesFile()).load(); }
    Profile stored(const std::string& name) const;
    std::vector<std::string> storedNames() const;
    std::vector<std::string> installedApps() const; // the folder names in the apps folder, sorted
    // The app's Info.plist entry, or nothing.
    std::optional<std::string> appInfo(const std::string& appName, const std::string& key) const;
    // The socket a running Korvel of this sandbox listens on.
    std::filesystem::path socketPath() const
    {
        return temp / "run" / ("korvel-" + std::to_string(::geteuid()) + ".socket");
    }

    // Polls until `done` holds; false after `timeout`.
    static bool eventually(
        const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Ends a stand-in process that keeps running (KORVEL_STANDIN_STAY) when the test ends.
    void endWithTest(pid_t pid) { m_started.push_back(pid); }

    TempDir temp;
    std::filesystem::path home;
    std::filesystem::path claude; // the stand-in Claude.app
    std::filesystem::path terminalRecord; // the arguments the terminal was started with, one per line
    AppPaths paths;
    Environment environment;

private:
    std::vector<pid_t> m_started; // stand-in processes that stay, ended with the test
};

// Replaces every UUID with "<ID>" and `root` with "<ROOT>", so that runs in two sandboxes compare.
std::string normalized(std::string text, const std::filesystem::path& root);

} // namespace korvel::test
