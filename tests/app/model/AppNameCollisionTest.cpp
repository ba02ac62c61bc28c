#include "app/model/AppNameCollision.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"

#include <gtest/gtest.h>

namespace korvel::test {
namespace {

TEST(AppNameCollision, namesThatShareAnAppIgnoringCaseCollideAndTheEarliestInTheListOwnsTheApp)
{
    for (const auto& [one, other, same] :
        std::vector<std::tuple<std::string, std::string, bool>> {{"Work", "Work.", true}, {"Work", "wORK", true},
            {"a/b", "A:B", true}, {"Straße", "STRASSE", true}, {"Work", "Works", false}})
        EXPECT_EQ(AppNameCollision::sameAppName(makeProfile(one), makeProfile(other)), same) << one << " " << other;

    const std::vector<Profile> list {
        makeProfile("Work"), makeProfile("Home"), makeProfile("work"), makeProfile("WORK")};
    EXPECT_FALSE(AppNameCollision::earlierOwner(list, list[0]));
    EXPECT_FALSE(AppNameCollision::earlierOwner(list, list[1]));
    EXPECT_EQ(AppNameCollision::earlierOwner(list, list[2]), list[0]);
    EXPECT_EQ(AppNameCollision::earlierOwner(list, list[3]), list[0]);
    EXPECT_FALSE(AppNameCollision::earlierOwner(list, makeProfile("Work"))) << "not in the list";
}

using AppNameCollisions = ModelTest;

TEST_F(AppNameCollisions, profilesSharingAnAppNameDoNotRebuildEachOtherForever)
{
    const Profile work = makeProfile("Work");
    const Profile twin = makeProfile("Work."); // also "Claude Work"
    storeProfiles({work, twin});
    buildApp(twin); // the later profile holds the app
    AppModel& m = start();
    settle();
    EXPECT_EQ(buildsStarted(work.id), 1) << "the earlier profile takes its app name";
    EXPECT_EQ(m.status(work), CloneStatus::ready("1.0.0"));
    EXPECT_EQ(m.status(twin), CloneStatus::damaged("belongs to another profile"));

    for (int activation = 0; activation < 3; ++activation) {
        fake.ownApplication.becomeActive();
        settle();
    }
    EXPECT_EQ(buildsStarted(work.id), 1);
    EXPECT_EQ(buildsStarted(twin.id), 0);
    EXPECT_FALSE(m.errorMessage()) << "automatic rebuilds skip the twin silently";

    const auto twinApp = launchApp(twin);
    fake.workspace.quit(twinApp);
    settle();
    EXPECT_EQ(buildsStarted(twin.id), 0);
}

TEST_F(AppNameCollisions, anExplicitBuildOfTheLaterProfileAsksForARename)
{
    const auto [work] = built("Work");
    AppModel& m = start();
    settle();

    const auto twin = await(m.createProfile("WORK", ProfileColor::Red, false));
    ASSERT_TRUE(twin);
    EXPECT_EQ(m.errorMessage(),
        "Couldn’t create the app for WORK: the profile “Work” already has an app named “Claude WORK”. Rename one "
        "of them.");
    EXPECT_EQ(buildsStarted(twin->id), 0);
    EXPECT_EQ(m.status(work), CloneStatus::ready("1.0.0"));

    m.setErrorMessage(std::nullopt);
    await(m.open(*twin));
    EXPECT_TRUE(m.errorMessage());
    EXPECT_TRUE(fake.workspace.openedApplications.empty());

    m.update(*twin, "Home", std::nullopt);
    settle();
    EXPECT_EQ(buildsStarted(twin->id), 1);
    EXPECT_EQ(m.status(*m.profile(twin->id)), CloneStatus::ready("1.0.0"));
    EXPECT_EQ(m.status(work), CloneStatus::ready("1.0.0"));
}

} // namespace
} // namespace korvel::test
