// The profile list on disk is shared with `korvel` commands running in other processes: every change the model
// makes lands on top of what is stored now, and a hand-edited list with one ID twice never costs two profiles.

#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvel::test {
namespace {

using Names = std::vector<std::string>;
using ProfileListWriters = ModelTest;

Names namesIn(const std::vector<Profile>& profiles)
{
    Names names;
    for (const Profile& profile : profiles)
        names.push_back(profile.name);
    return names;
}

TEST_F(ProfileListWriters, everyChangeLandsOnTopOfWhatAnotherProcessStoredMeanwhile)
{
    const auto [work, home, play] = built("Work", "Home", "Play");
    AppModel& m = start();
    settle();
    const ProfileStore store(paths.profilesFile());
    // Each step: another process changes the stored list, then the model makes its own change.
    const Profile extra = makeProfile("Extra");
    store.save({work, home, play, extra});
    m.update(work, std::string("Job"), std::nullopt);
    settle();
    EXPECT_EQ(namesIn(store.load()), (Names {"Job", "Home", "Play", "Extra"}));
    EXPECT_EQ(namesIn(m.profiles()), (Names {"Job", "Home", "Play", "Extra"})) << "the model shows the merged list";

    store.save({*m.profile(work.id), play, extra}); // `korvel delete Home`
    m.moveProfiles({2}, 0);
    settle();
    EXPECT_EQ(namesIn(store.load()), (Names {"Play", "Job", "Extra"})) << "the deleted profile stays deleted";

    store.save({*m.profile(work.id), play}); // `korvel delete Extra`
    const auto created = await(m.createProfile("New", ProfileColor::Teal, false));
    ASSERT_TRUE(created);
    EXPECT_EQ(namesIn(store.load()), (Names {"Job", "Play", "New"}));

    store.save({*m.profile(work.id), *created}); // `korvel delete Play`
    await(m.deleteProfile(*created, false));
    EXPECT_EQ(namesIn(store.load()), (Names {"Job"}));
    EXPECT_EQ(namesIn(m.profiles()), (Names {"Job"}));
}

TEST_F(ProfileListWriters, aChangeWhileAnotherProcessHoldsTheLockIsRefusedAndNothingIsLost)
{
    const auto [work] = built("Work");
    AppModel& m = start();
    settle();
    const int fd = ::open((paths.supportDir / ".profiles.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    m.update(work, std::string("Job"), std::nullopt);
    ::close(fd);
    ASSERT_TRUE(m.errorMessage());
    EXPECT_TRUE(m.errorMessage()->starts_with("Couldn’t save profiles: ")) << *m.errorMessage();
    EXPECT_EQ(namesIn(ProfileStore(paths.profilesFile()).load()), Names {"Work"});
    EXPECT_EQ(namesIn(m.profiles()), Names {"Work"}) << "the model shows what is stored";
    settle();
    m.update(work, std::string("Job"), std::nullopt);
    settle();
    EXPECT_EQ(namesIn(ProfileStore(paths.profilesFile()).load()), Names {"Job"});
}

TEST_F(ProfileListWriters, aDuplicateIdGetsANewOneThatStaysTheSameAndDeletingRemovesOneProfile)
{
    const auto [work, home] = built("Work", "Home");
    Profile twin = home;
    twin.name = "Twin";
    storeProfiles({work, home, twin});

    AppModel& m = start();
    settle();
    ASSERT_EQ(namesIn(m.profiles()), (Names {"Work", "Home", "Twin"}));
    EXPECT_EQ(m.profiles()[1].id, home.id) << "the earlier one keeps its ID";
    const Uuid newID = m.profiles()[2].id;
    EXPECT_NE(newID, home.id);
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(2).id, newID) << "the list is stored with the new ID";
    stop();
    storeProfiles({work, home, twin});
    EXPECT_EQ(start().profiles().at(2).id, newID) << "the same list gets the same new ID";

    await(model->deleteProfile(home, false));
    EXPECT_EQ(namesIn(ProfileStore(paths.profilesFile()).load()), (Names {"Work", "Twin"}));
}

} // namespace
} // namespace korvel::test
