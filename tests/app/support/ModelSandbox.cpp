#include "tests/app/support/ModelSandbox.hpp"

#include "tests/app/support/Await.hpp"
#include "tests/support/StandInClaude.hpp"

#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>

namespace korvel {

void PrintTo(const CloneStatus& status, std::ostream* out)
{
    *out << status.summary();
}

void PrintTo(const Uuid& id, std::ostream* out)
{
    *out << id.toString();
}

void PrintTo(const AppModel::PendingImport& pending, std::ostream* out)
{
    *out << pending.sessions << " sessions, " << pending.pins << " pins";
}

} // namespace korvel

namespace korvel::test {
namespace {

const std::string creatingApp = "Creating app…";

} // namespace

ModelSandbox::ModelSandbox()
    : paths(temp / "support", temp / "home/Applications/Claude Profiles", temp / "Claude.app", temp / "ClaudeData")
    , ownBundle(temp / "Korvel.app")
    , launcher(ownBundle / "Contents/MacOS/KorvelLauncher")
{
    for (const auto& [name, folder] : {std::pair {"HOME", "home"}, std::pair {"XDG_DATA_HOME", "home/.local/share"},
             std::pair {"XDG_CONFIG_HOME", "home/.config"}}) {
        std::filesystem::create_directories(temp / folder);
        environment.set(name, (temp / folder).string());
    }
    writeExecutable(launcher, "#!/bin/sh\nexit 0\n");
    installClaude("1.0.0");
    fake.mainBundle.path = ownBundle;
}

ModelSandbox::~ModelSandbox()
{
    stop();
}

AppModel& ModelSandbox::start()
{
    model = std::make_unique<AppModel>(paths, fake.platform(), launcher);
    m_lastBusy.clear();
    m_builds.clear();
    m_wasSyncing = false;
    m_syncRounds = 0;
    watchModel();
    return *model;
}

void ModelSandbox::stop()
{
    if (!model)
        return;
    settle();
    model.reset();
    // Jobs of the gone model still report back; let them find it gone.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

AppModel& ModelSandbox::restart()
{
    stop();
    return start();
}

void ModelSandbox::settle()
{
    const auto idle = [this] {
        return (!model || (model->busy().empty() && !model->isSyncingSessions())) &&
            QThreadPool::globalInstance()->activeThreadCount() == 0;
    };
    for (int round = 0; round < 100; ++round) {
        QCoreApplication::sendPostedEvents();
        if (idle()) {
            QCoreApplication::sendPostedEvents();
            if (idle())
                return;
        }
        if (!waitUntil(idle))
            break;
    }
    ADD_FAILURE() << "the model did not settle";
}

void ModelSandbox::installClaude(const std::string& version)
{
    StandInClaude::Options options;
    options.version = version;
    ASSERT_EQ(StandInClaude::create(paths.sourceApp.parent_path(), options), paths.sourceApp);
}

void ModelSandbox::setClaudeVersion(const std::string& version)
{
    StandInClaude::setInfoString(paths.sourceApp, "CFBundleShortVersionString", version);
}

void ModelSandbox::removeClaude()
{
    std::filesystem::remove_all(paths.sourceApp);
}

Profile makeProfile(const std::string& name, ProfileColor color)
{
    return Profile {Uuid::random(), name, color, Timestamp {std::floor(Timestamp::now().secondsSince1970)}};
}

void ModelSandbox::storeProfiles(const std::vector<Profile>& profiles) const
{
    ProfileStore(paths.profilesFile()).save(profiles);
}

void ModelSandbox::buildApp(const Profile& profile) const
{
    CloneBuilder(paths, launcher).build(profile);
}

CloneStatus ModelSandbox::statusOnDisk(const Profile& profile) const
{
    return CloneBuilder(paths, launcher).status(profile);
}

std::shared_ptr<FakeRunningApplication> ModelSandbox::launchApp(const Profile& profile)
{
    return fake.workspace.launch(profile.bundleIdentifier());
}

void ModelSandbox::registerBundle(const Profile& profile)
{
    fake.workspace.bundleIdentifiers[paths.appURL(profile)] = profile.bundleIdentifier();
}

int ModelSandbox::buildsStarted(const Uuid& id) const
{
    const auto it = m_builds.find(id);
    return it == m_builds.end() ? 0 : it->second;
}

void ModelSandbox::tickSessionSyncTimer()
{
    ASSERT_TRUE(QMetaObject::invokeMethod(const_cast<QTimer*>(&model->sessionSyncTimer()), "timeout"));
}

void ModelSandbox::watchModel()
{
    QObject::connect(model.get(), &AppModel::changed, model.get(), [this] {
        if (model->isSyncingSessions() && !m_wasSyncing)
            ++m_syncRounds;
        m_wasSyncing = model->isSyncingSessions();
        std::map<Uuid, std::string> busy = model->busy();
        for (const auto& [id, message] : busy) {
            const auto before = m_lastBusy.find(id);
            if (message == creatingApp && (before == m_lastBusy.end() || before->second != creatingApp))
                ++m_builds[id];
        }
        m_lastBusy = std::move(busy);
    });
}

} // namespace korvel::test
