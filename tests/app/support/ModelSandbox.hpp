#pragma once

#include "app/model/AppModel.hpp"
#include "app/platform/fake/FakePlatform.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace korvel {
// Readable values in test failures (the core's are in tests/support/Printers.hpp).
inline void PrintTo(const AppModel::PendingImport& pending, std::ostream* out)
{
    *out << pending.sessions << " sessions, " << pending.pins << " pins";
}
inline void PrintTo(const SessionSync::Result& result, std::ostream* out)
{
    *out << result.id.toString() << ": " << result.sessions << " sessions, " << result.pins << " pins waiting, "
         << result.mergedPins << " merged, " << result.mcpServers << " MCP servers waiting, " << result.mergedMcpServers
         << " merged";
    if (!result.failure.empty())
        *out << ", failed: " << result.failure;
}
} // namespace korvel

namespace korvel::test {

// A new profile with a random id, created now to the whole second (as the profile list keeps times).
Profile makeProfile(const std::string& name, ProfileColor color = ProfileColor::Blue);

// A model on the fake platform with real files: Korvel.app with a launcher, a stand-in Claude Desktop and every
// folder in a temporary home. HOME and the XDG folders point into it while the test runs.
class ModelSandbox : public ::testing::Test
{
protected:
    ModelSandbox();
    ~ModelSandbox() override { stop(); }

    // The model's life: start-up runs against the sandbox; stop destroys the model, as a quit would.
    AppModel& start(AppModel::Options options = {});
    void stop();
    AppModel& restart()
    {
        stop();
        return start();
    }

    // Runs the event loop until no build, import or sync runs and no started task is waiting to begin.
    void settle();

    // Claude Desktop.
    void installClaude(const std::string& version);
    void setClaudeVersion(const std::string& version);
    void removeClaude() { std::filesystem::remove_all(paths.sourceApp); }

    // Profiles and their apps, directly through the core (as an earlier run of Korvel would have left them).
    void storeProfiles(const std::vector<Profile>& profiles) const
    {
        ProfileStore(paths.profilesFile()).save(profiles);
    }
    // As the model builds them on the fake X11 desktop.
    CloneBuilder builder() const
    {
        CloneBuilder builder(paths, launcher);
        builder.taskBarIdentity = TaskBarIdentity::XWayland;
        return builder;
    }
    void buildApp(const Profile& profile) const { builder().build(profile); }
    CloneStatus statusOnDisk(const Profile& profile) const { return builder().status(profile); }

    // The fake desktop.
    std::shared_ptr<FakeRunningApplication> launchApp(const Profile& profile)
    {
        return fake.workspace.launch(profile.bundleIdentifier());
    }
    // Hands out the profile app's identifier for its bundle, as the system's bundle reader would.
    void registerBundle(const Profile& profile)
    {
        fake.workspace.bundleIdentifiers[paths.appURL(profile)] = profile.bundleIdentifier();
    }

    // How many builds the model started for a profile since start(), seen through its busy message.
    int buildsStarted(const Uuid& id) const { return m_watch.builds.contains(id) ? m_watch.builds.at(id) : 0; }
    // How many session sync rounds the model started since start().
    int syncRoundsStarted() const { return m_watch.syncRounds; }
    // Fires the 30-second timer once.
    void tickSessionSyncTimer();

    TempDir temp;
    ScopedEnvironment environment;
    AppPaths paths;
    std::filesystem::path ownBundle;
    std::filesystem::path launcher;
    FakePlatform fake;
    std::unique_ptr<AppModel> model;

private:
    struct Watch
    {
        std::map<Uuid, std::string> lastBusy;
        std::map<Uuid, int> builds;
        bool wasSyncing = false;
        int syncRounds = 0;
    } m_watch;
};

} // namespace korvel::test
