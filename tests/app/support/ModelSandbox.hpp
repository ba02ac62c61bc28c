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
// Readable values in test failures.
void PrintTo(const CloneStatus& status, std::ostream* out);
void PrintTo(const Uuid& id, std::ostream* out);
void PrintTo(const AppModel::PendingImport& pending, std::ostream* out);
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
    ~ModelSandbox() override;

    // The model's life: start-up runs against the sandbox; stop destroys the model, as a quit would.
    AppModel& start();
    void stop();
    AppModel& restart();

    // Runs the event loop until no build, import or sync runs and no started task is waiting to begin.
    void settle();

    // Claude Desktop.
    void installClaude(const std::string& version);
    void setClaudeVersion(const std::string& version);
    void removeClaude();

    // Profiles and their apps, directly through the core (as an earlier run of Korvel would have left them).
    void storeProfiles(const std::vector<Profile>& profiles) const;
    void buildApp(const Profile& profile) const;
    CloneStatus statusOnDisk(const Profile& profile) const;

    // The fake desktop.
    std::shared_ptr<FakeRunningApplication> launchApp(const Profile& profile);
    // Hands out the profile app's identifier for its bundle, as the system's bundle reader would.
    void registerBundle(const Profile& profile);

    // How many builds the model started for a profile since start(), seen through its busy message.
    int buildsStarted(const Uuid& id) const;
    // How many session sync rounds the model started since start().
    int syncRoundsStarted() const { return m_syncRounds; }
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
    void watchModel();
    std::map<Uuid, std::string> m_lastBusy;
    std::map<Uuid, int> m_builds;
    bool m_wasSyncing = false;
    int m_syncRounds = 0;
};

} // namespace korvel::test
