#include "tests/app/support/ModelSandbox.hpp"

#include "tests/app/support/Await.hpp"
#include "tests/support/StandInClaude.hpp"

#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>

namespace korvel::test {

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

AppModel& ModelSandbox::start(AppModel::Options options)
{
    model = std::make_unique<AppModel>(paths, fake.platform(), launcher, options);
    m_watch = {};
    QObject::connect(model.get(), &AppModel::changed, model.get(), [this] {
        if (model->isSyncingSessions() && !m_watch.wasSyncing)
            ++m_watch.syncRounds;
        m_watch.wasSyncing = model->isSyncingSessions();
        std::map<Uuid, std::string> busy = model->busy();
        for (const auto& [id, message] : busy) {
            const auto before = m_watch.lastBusy.find(id);
            if (message == "Creating app…" && (before == m_watch.lastBusy.end() || before->second != message))
                ++m_watch.builds[id];
        }
        m_watch.lastBusy = std::move(busy);
    });
    return *model;
}

void ModelSandbox::stop()
{
    if (!model)
        return;
    settle();
    model.reset();
    // Jobs of the gone model still report back; let them find it gone.
    waitForBackgroundJobs();
    QCoreApplication::sendPostedEvents();
}

void ModelSandbox::settle()
{
    const auto idle = [this] {
        return (!model || (model->busy().empty() && !model->isSyncingSessions())) &&
            QThreadPool::globalInstance()->activeThreadCount() == 0;
    };
    // Idle twice over, with what the jobs posted on their way out delivered in between.
    for (int round = 0; round < 100; ++round) {
        QCoreApplication::sendPostedEvents();
        if (idle() && (QCoreApplication::sendPostedEvents(), idle()))
            return;
        if (!waitUntil(idle))
            break;
    }
    ADD_FAILURE() << "the model did not settle";
}

void ModelSandbox::installClaude(const std::string& version)
{
    ASSERT_EQ(StandInClaude::create(paths.sourceApp.parent_path(), {.version = version}), paths.sourceApp);
}

void ModelSandbox::setClaudeVersion(const std::string& version)
{
    StandInClaude::setInfo(paths.sourceApp, "CFBundleShortVersionString", version);
}

Profile makeProfile(const std::string& name, ProfileColor color)
{
    return Profile {Uuid::random(), name, color, Timestamp {std::floor(Timestamp::now().secondsSince1970)}};
}

void ModelSandbox::tickSessionSyncTimer()
{
    ASSERT_TRUE(QMetaObject::invokeMethod(const_cast<QTimer*>(&model->sessionSyncTimer()), "timeout"));
}

} // namespace korvel::test
