// Timings of the data transfer work, each with a reference measured in the same run:
//  - SyncRound: importSessions + mergePins over 5 profiles × 2,000 session files in 20 accounts when nothing
//    is new (the 30-second tick while a profile app runs). Reference: one bare walk of the same trees.
//  - ImportDataAgainstCp: a 300 MB / 10,000-file data folder, against `cp -a --reflink=auto`.
//  - SessionSyncNewFilesAgainstCp: 1,000 new session files into a profile, against `cp -a` of them (target ≤ 3×).
//  - SessionSyncNothingNewAgainstCp: the same round once everything is there, against `cp -an` (target ≤ 1.2×).
#include "core/model/Uuid.hpp"
#include "core/transfer/DataImporter.hpp"
#include "core/transfer/SessionImporter.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;
using korvel::DataImporter;
using korvel::SessionImporter;
using korvel::test::TempDir;

namespace {

constexpr int profileCount = 5;
constexpr int accountCount = 20;
constexpr int sessionsPerAccount = 100;

void writeBytes(const fs::path& file, size_t size, std::mt19937_64& random)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Claude's folder with 2,000 sessions and 150 pins (20 of them of an account no profile has), and five
// profiles that have already received all of it.
struct SyncSandbox
{
    TempDir dir;
    fs::path source = dir / "Claude";

    SyncSandbox()
    {
        std::mt19937_64 random(1);
        std::vector<std::string> pins;
        for (int a = 0; a < accountCount; ++a) {
            const std::string account = korvel::Uuid::random().toString();
            const std::string folder = a % 4 == 0 ? "local-agent-mode-sessions" : "claude-code-sessions";
            fs::create_directories(source / folder / account);
            for (int s = 0; s < sessionsPerAccount; ++s) {
                const std::string id = "local_" + korvel::Uuid::random().lowerString();
                writeBytes(source / folder / account / (id + ".json"), 2000, random);
                if (s < 7)
                    pins.push_back(id);
            }
        }
        for (int p = 0; p < 20; ++p)
            pins.push_back("local_" + korvel::Uuid::random().lowerString());
        const nlohmann::json config = {{"preferences", {{"epitaxyPrefs", {{"starred-local-code-sessions", pins}}}}}};
        std::ofstream(source / "claude_desktop_config.json") << config.dump();

        for (int p = 0; p < profileCount; ++p) {
            for (const std::string& folder : SessionImporter::sessionFolders()) {
                for (const auto& entry : fs::directory_iterator(source / folder, fs::directory_options::none))
                    fs::create_directories(data(p) / folder / entry.path().filename());
            }
            SessionImporter::importSessions(source, data(p), ledger(p));
            SessionImporter::mergePins(source, data(p), ledger(p));
        }
    }

    fs::path data(int p) const { return dir / ("Profile" + std::to_string(p)) / "Data"; }
    fs::path ledger(int p) const { return dir / ("Profile" + std::to_string(p)) / "session-import.json"; }
};

SyncSandbox& syncSandbox()
{
    static SyncSandbox sandbox;
    return sandbox;
}

void SyncRound(benchmark::State& state)
{
    SyncSandbox& box = syncSandbox();
    for (auto _ : state) {
        for (int p = 0; p < profileCount; ++p) {
            const auto copied = SessionImporter::importSessions(box.source, box.data(p), box.ledger(p));
            const auto merged = SessionImporter::mergePins(box.source, box.data(p), box.ledger(p));
            if (!copied.isEmpty() || merged != 0)
                state.SkipWithError("the round found something new");
        }
    }
}

// The least a round must read: the source's trees once per profile and each profile's own trees.
void SyncRoundReferenceWalk(benchmark::State& state)
{
    SyncSandbox& box = syncSandbox();
    for (auto _ : state) {
        size_t files = 0;
        for (int p = 0; p < profileCount; ++p) {
            for (const fs::path& root : {box.source, box.data(p)}) {
                for (const auto& entry : fs::recursive_directory_iterator(root))
                    files += entry.is_regular_file() ? 1 : 0;
            }
        }
        benchmark::DoNotOptimize(files);
    }
}

// ---- Importing a data folder ----

struct ImportSandbox
{
    TempDir dir;
    fs::path source = dir / "Claude";

    ImportSandbox()
    {
        // 9,000 small, 950 medium and 50 large files: 300 MB in 10,000 files, in 100 folders.
        std::mt19937_64 random(2);
        fs::create_directories(source);
        std::ofstream(source / "Local State") << "{}";
        for (int i = 0; i < 10000; ++i) {
            const fs::path folder = source / ("Folder " + std::to_string(i % 100)) / std::to_string(i % 7);
            fs::create_directories(folder);
            const size_t size = i % 200 == 0 ? 760000 : i % 10 == 1 ? 200000 : 8000;
            writeBytes(folder / ("file" + std::to_string(i)), size, random);
        }
        fs::create_symlink("workstation-1", source / "SingletonLock");
    }
};

ImportSandbox& importSandbox()
{
    static ImportSandbox sandbox;
    return sandbox;
}

void copyWithCp(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to.parent_path());
    const auto result =
        korvel::test::ChildProcess::run("/bin/cp", {{"cp", "-a", "--reflink=auto", from.string(), to.string()}});
    if (result.exitStatus != 0)
        throw std::runtime_error(result.standardError);
}

// Seconds of one copy, then the copy is removed and written back so that the next starts clean.
template<typename Copy>
double timedCopy(Copy copy, const fs::path& from, const fs::path& to)
{
    const auto start = std::chrono::steady_clock::now();
    copy(from, to);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove_all(to);
    ::sync();
    return seconds;
}

// Korvel's and cp's seconds over a run: the benchmark's time is Korvel's, "ratio" Korvel / cp over the run.
struct AgainstCp
{
    double korvel = 0;
    double cp = 0;

    void add(benchmark::State& state, double korvelSeconds, double cpSeconds)
    {
        state.SetIterationTime(korvelSeconds);
        korvel += korvelSeconds;
        cp += cpSeconds;
    }
    void report(benchmark::State& state, double target = 0) const
    {
        state.counters["cp_ms"] = benchmark::Counter(cp * 1000 / static_cast<double>(state.iterations()));
        state.counters["ratio"] = benchmark::Counter(korvel / cp);
        if (target > 0)
            state.counters["target"] = benchmark::Counter(target);
    }
};

// Each iteration copies with both, in alternating order, so that both meet the same disk and cache state.
// The benchmark's time is importData's; "cp" is the reference and "ratio" importData / cp over the run.
void ImportDataAgainstCp(benchmark::State& state)
{
    ImportSandbox& box = importSandbox();
    const fs::path destination = box.dir / "Profile/Data";
    const auto importData = [](const fs::path& from, const fs::path& to) { DataImporter::importData(from, to); };
    ::sync();
    AgainstCp run;
    bool cpFirst = true;
    for (auto _ : state) {
        double cp = 0;
        if (cpFirst)
            cp = timedCopy(copyWithCp, box.source, destination);
        const double korvel = timedCopy(importData, box.source, destination);
        if (!cpFirst)
            cp = timedCopy(copyWithCp, box.source, destination);
        cpFirst = !cpFirst;
        run.add(state, korvel, cp);
    }
    run.report(state);
}

// ---- A sync round against cp ----

constexpr int newSessionFiles = 1000;

// 1,000 sessions of 2 kB in two accounts, ten project folders each; a profile that has both accounts.
struct NewSessionsSandbox
{
    TempDir dir;
    fs::path source = dir / "Claude";
    fs::path profile = dir / "Profile";
    std::vector<std::string> accounts {korvel::Uuid::random().toString(), korvel::Uuid::random().toString()};

    NewSessionsSandbox()
    {
        std::mt19937_64 random(3);
        for (int i = 0; i < newSessionFiles; ++i) {
            const fs::path folder = source / "claude-code-sessions" / accounts[static_cast<size_t>(i % 2)] /
                ("project-" + std::to_string(i % 20));
            fs::create_directories(folder);
            writeBytes(folder / ("local_" + korvel::Uuid::random().lowerString() + ".json"), 2000, random);
        }
    }

    fs::path data() const { return profile / "Data"; }
    fs::path ledger() const { return profile / "session-import.json"; }
    fs::path accountIn(const fs::path& root, const std::string& account) const
    {
        return root / "claude-code-sessions" / account;
    }

    // An empty profile: its account folders and nothing else.
    void reset() const
    {
        fs::remove_all(profile);
        for (const std::string& account : accounts)
            fs::create_directories(accountIn(data(), account));
    }
};

NewSessionsSandbox& newSessionsSandbox()
{
    static NewSessionsSandbox sandbox;
    return sandbox;
}

// cp with `flags` of both account folders' contents into the profile's, as a user would bring them over by hand.
void copyAccountsWithCp(const NewSessionsSandbox& box, const std::string& flags)
{
    for (const std::string& account : box.accounts) {
        const auto result = korvel::test::ChildProcess::run("/bin/cp",
            {{"cp", flags, "-T", box.accountIn(box.source, account).string(),
                box.accountIn(box.data(), account).string()}});
        if (result.exitStatus != 0)
            throw std::runtime_error(result.standardError);
    }
}

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void importNewSessions(const NewSessionsSandbox& box)
{
    if (SessionImporter::importSessions(box.source, box.data(), box.ledger()).missingFiles != newSessionFiles)
        throw std::runtime_error("the round did not copy every file");
}

// Each iteration times both on an empty profile, in alternating order, after a sync so that neither pays for the
// other's writes. The benchmark's time is importSessions'; "ratio" is importSessions / cp over the run.
void SessionSyncNewFilesAgainstCp(benchmark::State& state)
{
    const NewSessionsSandbox& box = newSessionsSandbox();
    AgainstCp run;
    bool cpFirst = true;
    for (auto _ : state) {
        double korvel = 0;
        double cp = 0;
        for (int turn = 0; turn < 2; ++turn) {
            box.reset();
            ::sync();
            if ((turn == 0) == cpFirst)
                cp = secondsOf([&] { copyAccountsWithCp(box, "-a"); });
            else
                korvel = secondsOf([&] { importNewSessions(box); });
        }
        cpFirst = !cpFirst;
        run.add(state, korvel, cp);
    }
    run.report(state, 3);
}

// Everything is there already: importSessions against cp -an, which also only looks.
void SessionSyncNothingNewAgainstCp(benchmark::State& state)
{
    const NewSessionsSandbox& box = newSessionsSandbox();
    box.reset();
    importNewSessions(box);
    AgainstCp run;
    for (auto _ : state) {
        const double cp = secondsOf([&] { copyAccountsWithCp(box, "-an"); });
        const double korvel = secondsOf([&] {
            if (!SessionImporter::importSessions(box.source, box.data(), box.ledger()).isEmpty())
                throw std::runtime_error("the round found something new");
        });
        run.add(state, korvel, cp);
    }
    run.report(state, 1.2);
}

} // namespace

BENCHMARK(SyncRound)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(SyncRoundReferenceWalk)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(ImportDataAgainstCp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

BENCHMARK(SessionSyncNewFilesAgainstCp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(SessionSyncNothingNewAgainstCp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(30);

BENCHMARK_MAIN();
