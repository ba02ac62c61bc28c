// The application model on the real Linux platform: a profile app built from the stand-in Claude, opened,
// seen running through /proc, handed a link through GIO's handler choice, and quit.

#include "app/model/AppModel.hpp"
#include "app/platform/linux/LinuxPlatform.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInRecord.hpp"

#include <QCoreApplication>
#include <QThreadPool>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

TEST(ModelOnLinux, AProfileAppIsBuiltOpenedSeenRunningSentLinksAndQuit)
{
    Sandbox sandbox; // before anything reads the XDG folders, GLib above all
    const auto claude = StandInClaude::create(sandbox.root() / "Applications");
    const AppPaths paths(sandbox.dataHome() / "Korvel", sandbox.home() / "Applications" / "Claude Profiles", claude,
        sandbox.configHome() / "Claude");
    // Korvel itself in ~/Applications, so that the first start registers the login item.
    const auto korvel = makeBundle(sandbox.home() / "Applications", "Korvel", "com.veldrane.Korvel", stayingScript());

    // The app is built beforehand, as an earlier run of Korvel would have left it: building is the model's own
    // business, tested on the fake platform.
    const Profile profile = makeProfile("Work", ProfileColor::Teal);
    ProfileStore(paths.profilesFile()).save({profile});
    CloneBuilder builder(paths, KORVEL_LAUNCHER);
    builder.taskBarIdentity = TaskBarIdentity::XWayland; // the default wherever a Wayland session does not lack it
    builder.build(profile);

    LinuxPlatform platform(bundleExecutable(korvel));
    platform.workspace().restrictTo(sandbox.root()); // other tests on this machine run profile apps too
    AppModel model(paths, platform.platform(), KORVEL_LAUNCHER);
    EXPECT_TRUE(std::filesystem::exists(sandbox.configHome() / "autostart" / "korvel.desktop"));
    ASSERT_EQ(model.status(profile).kind(), CloneStatus::Kind::Ready) << model.errorMessage().value_or("");

    // Opened for real: the launcher becomes the stand-in, which stays until asked to quit.
    sandbox.set(std::string(StandInClaude::stayVariable), "1");
    await(model.open(profile));
    sandbox.set(std::string(StandInClaude::stayVariable), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return model.running().contains(profile.id); })) << model.errorMessage().value_or("");
    const auto record = StandInClaude::recordFile(paths.dataDir(profile.id));
    ASSERT_TRUE(waitUntil([&] { return StandInRecord::readAll(record).size() == 1; }));
    EXPECT_THAT(StandInRecord::readOne(record).arguments,
        testing::Contains("--user-data-dir=" + paths.dataDir(profile.id).string()));

    // Links: Korvel takes the scheme through GIO and sends a link to the running profile app.
    await(model.setRouteClaudeLinks(true));
    EXPECT_TRUE(model.isLinkRoutingActive()) << model.errorMessage().value_or("");
    model.handle({"claude://claude.ai/new?q=from a link"});
    ASSERT_TRUE(waitUntil([&] { return StandInRecord::readAll(record).size() == 2; }));
    EXPECT_THAT(
        StandInRecord::readAll(record).back().arguments, testing::Contains("claude://claude.ai/new?q=from a link"));

    // Quit: the termination arrives and the profile is no longer running.
    const auto running = model.runningApp(profile);
    ASSERT_TRUE(running);
    running->terminate();
    EXPECT_TRUE(waitUntil([&] { return !model.running().contains(profile.id); }));
    EXPECT_EQ(model.errorMessage(), std::nullopt);

    // Let the sync round started by the termination finish before the model goes; the platform goes last and
    // wakes the model's sleeping link-handler checks.
    EXPECT_TRUE(waitUntil(
        [&] { return !model.isSyncingSessions() && QThreadPool::globalInstance()->activeThreadCount() == 0; }));
}
