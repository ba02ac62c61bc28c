#include "app/model/BackgroundJob.hpp"
#include "tests/app/model/ModelTest.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/app/support/PoolBlocker.hpp"

#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <stdexcept>

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundJob, runsAwayFromTheMainThreadAndResumesOnIt)
{
    QObject owner;
    QThread* worker = nullptr;
    const int answer = await(runInBackground(&owner, [&worker] {
        worker = QThread::currentThread();
        return 42;
    }));
    EXPECT_EQ(answer, 42);
    EXPECT_NE(worker, QThread::currentThread());

    EXPECT_THROW(await(runInBackground(&owner, [] { throw std::runtime_error("disk on fire"); })), std::runtime_error);
}

TEST(BackgroundJob, endsWithModelGoneWhenItsOwnerWentAway)
{
    auto owner = std::make_unique<QObject>();
    std::optional<QCoro::Task<>> job;
    {
        PoolBlocker pool;
        job.emplace(runInBackground(owner.get(), [] { throw std::runtime_error("never seen"); }));
        owner.reset();
    }
    EXPECT_THROW(await(std::move(*job)), ModelGone);
}

using ModelLifetime = ModelTest;

TEST_F(ModelLifetime, aBuildThatOutlivesItsModelTouchesNothing)
{
    const auto [work] = stored("Work");
    start();
    settle();
    std::optional<QCoro::Task<>> build;
    {
        PoolBlocker pool;
        build.emplace(model->rebuild(work));
        model->update(work, "Renamed", std::nullopt); // queues a second build that must never start
        model.reset();
    }
    waitForBackgroundJobs();
    spin();
    EXPECT_TRUE(build->isReady());
    EXPECT_EQ(ProfileStore(paths.profilesFile()).load().at(0).name, "Renamed");
}

TEST_F(ModelLifetime, aLinkCheckWaitingAfterTheModelIsGoneDoesNothing)
{
    fake.clock.manual = true;
    const auto [work] = stored("Work");
    registerBundle(work);
    start();
    launchApp(work);
    settle();
    ASSERT_EQ(fake.clock.pendingSleeps(), 1u);
    model.reset();
    fake.linkHandler.handlers["claude"] = paths.appURL(work);
    fake.clock.advance(30s);
    EXPECT_EQ(fake.clock.pendingSleeps(), 0u);
    EXPECT_TRUE(fake.linkHandler.requests.empty());

    const auto late = launchApp(work); // the observers outlive the model and must ignore the event
    fake.workspace.quit(late);
    fake.ownApplication.becomeActive();
}

} // namespace
} // namespace korvel::test
