// The application model's two promises to the interface, measured on the fake platform with real files:
// - start-up with 50 built profiles (load, every status, first sync scheduled) until the model is ready, against
//   the core work it cannot avoid (loading the list and checking every app) in the same run;
// - how long the main thread is kept from its event loop during a sync round over 10,000 session files (see
//   GapWatch), against the same measures while the loop is idle, in the same run.

#include "app/model/AppModel.hpp"
#include "app/platform/fake/FakePlatform.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace fs = std::filesystem;
using namespace korvel;

namespace {

constexpr int profileCount = 50;
constexpr int sessionFileCount = 10'000;
const std::string account = "0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";

// A temporary home with a stand-in Claude and Korvel's real launcher.
struct Home
{
    test::TempDir temp;
    AppPaths paths {temp / "support", temp / "Applications/Claude Profiles", temp / "Claude.app", temp / "ClaudeData"};
    fs::path launcher = KORVEL_LAUNCHER_PATH;
    FakePlatform fake;

    Home()
    {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            fs::create_directories(temp / name);
            ::setenv(name, (temp / name).c_str(), 1);
        }
        test::StandInClaude::create(temp.path());
        fake.mainBundle.path = temp / "Korvel.app";
    }

    std::vector<Profile> storeBuiltProfiles(int count) const
    {
        std::vector<Profile> profiles;
        const CloneBuilder builder(paths, launcher);
        for (int i = 0; i < count; ++i) {
            profiles.push_back(Profile {Uuid::random(), "Profile " + std::to_string(i), ProfileColor::Teal,
                Timestamp {std::floor(Timestamp::now().secondsSince1970)}});
            builder.build(profiles.back());
        }
        ProfileStore(paths.profilesFile()).save(profiles);
        return profiles;
    }
};

// Runs the event loop until `done` holds.
void runUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

void finish(std::unique_ptr<AppModel>& model)
{
    QCoreApplication::sendPostedEvents();
    runUntil([&model] { return !model->isSyncingSessions() && model->busy().empty(); });
    model.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

// Built once for both start-up benchmarks: 50 builds take a while.
struct BuiltHome
{
    Home home;
    std::vector<Profile> profiles = home.storeBuiltProfiles(profileCount);

    static BuiltHome& shared()
    {
        static BuiltHome built;
        return built;
    }
};

void BM_StartupWith50BuiltProfiles(benchmark::State& state)
{
    Home& home = BuiltHome::shared().home;
    const auto& profiles = BuiltHome::shared().profiles;
    for (auto _ : state) {
        auto model = std::make_unique<AppModel>(home.paths, home.fake.platform(), home.launcher);
        state.PauseTiming();
        if (model->statuses().size() != profiles.size() ||
            model->status(profiles.back()).kind() != CloneStatus::Kind::Ready)
            state.SkipWithError("the profiles did not start ready");
        finish(model);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupWith50BuiltProfiles)->Unit(benchmark::kMillisecond)->MinTime(2);

// The floor of any start-up: read the list and check every app on disk.
void BM_LoadAndCheck50BuiltProfiles(benchmark::State& state)
{
    const Home& home = BuiltHome::shared().home;
    const ProfileStore store(home.paths.profilesFile());
    const CloneBuilder builder(home.paths, home.launcher);
    for (auto _ : state) {
        for (const Profile& profile : store.load())
            benchmark::DoNotOptimize(builder.status(profile));
    }
}
BENCHMARK(BM_LoadAndCheck50BuiltProfiles)->Unit(benchmark::kMillisecond)->MinTime(2);

// Watches the main loop: the longest gap between two ticks of a 1 ms timer (what a user would feel, including
// time the system gave to other processes), and the longest stretch the loop spent handling events before it
// waited again (the main thread's own blocking work).
class GapWatch
{
public:
    GapWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestGap = std::max(m_longestGap, now - m_lastTick);
            m_lastTick = now;
        });
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        m_awake = QObject::connect(
            dispatcher, &QAbstractEventDispatcher::awake, [this] { m_awakeAt = m_clock.nsecsElapsed(); });
        m_aboutToBlock = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this] {
            if (m_awakeAt >= 0)
                m_longestBusy = std::max(m_longestBusy, m_clock.nsecsElapsed() - m_awakeAt);
            m_awakeAt = -1;
        });
        m_clock.start();
        m_timer.start(1);
    }
    ~GapWatch()
    {
        QObject::disconnect(m_awake);
        QObject::disconnect(m_aboutToBlock);
    }
    double longestGapMs() const { return m_longestGap / 1e6; }
    double longestBusyMs() const { return m_longestBusy / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    QMetaObject::Connection m_awake;
    QMetaObject::Connection m_aboutToBlock;
    qint64 m_lastTick = 0;
    qint64 m_awakeAt = -1;
    qint64 m_longestGap = 0;
    qint64 m_longestBusy = 0;
};

struct SyncSetup
{
    Home home;
    Profile profile {Uuid::random(), "Work", ProfileColor::Blue, Timestamp {}};

    SyncSetup()
    {
        const fs::path folder = home.paths.originalDataDir / "claude-code-sessions" / account;
        fs::create_directories(folder);
        for (int i = 0; i < sessionFileCount; ++i)
            test::writeText(folder / ("local_" + std::to_string(i) + ".json"), R"({"messages":[]})");
        ProfileStore(home.paths.profilesFile()).save({profile});
        home.fake.workspace.launch(profile.bundleIdentifier()); // running: pins are counted, not merged
    }

    // A profile that has seen the account but holds none of its sessions yet.
    void resetProfile() const
    {
        fs::remove_all(home.paths.profileDir(profile.id));
        fs::create_directories(home.paths.dataDir(profile.id) / "claude-code-sessions" / account);
    }
};

void BM_SyncRoundOver10000SessionFiles(benchmark::State& state)
{
    SyncSetup setup;
    double longestGap = 0;
    double longestBusy = 0;
    double idleGap = 0;
    double idleBusy = 0;
    for (auto _ : state) {
        state.PauseTiming();
        setup.resetProfile();
        auto model = std::make_unique<AppModel>(setup.home.paths, setup.home.fake.platform(), setup.home.launcher);
        QCoreApplication::sendPostedEvents(); // the start-up round begins
        state.ResumeTiming();

        QElapsedTimer round;
        round.start();
        {
            GapWatch watch;
            runUntil([&model] { return !model->isSyncingSessions(); });
            longestGap = std::max(longestGap, watch.longestGapMs());
            longestBusy = std::max(longestBusy, watch.longestBusyMs());
        }
        const qint64 roundMs = round.elapsed();

        state.PauseTiming();
        if (model->pendingAfterRestart().at(setup.profile.id).sessions != sessionFileCount)
            state.SkipWithError("the round did not copy every session");
        {
            GapWatch idle;
            runUntil([&round, roundMs] { return round.elapsed() >= 2 * roundMs; });
            idleGap = std::max(idleGap, idle.longestGapMs());
            idleBusy = std::max(idleBusy, idle.longestBusyMs());
        }
        finish(model);
        state.ResumeTiming();
    }
    state.counters["longest_gap_ms"] = longestGap;
    state.counters["idle_longest_gap_ms"] = idleGap;
    state.counters["longest_busy_ms"] = longestBusy;
    state.counters["idle_longest_busy_ms"] = idleBusy;
}
BENCHMARK(BM_SyncRoundOver10000SessionFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
