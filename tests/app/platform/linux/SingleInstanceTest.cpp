#include "app/platform/linux/SingleInstance.hpp"
#include "app/platform/linux/InstanceMessage.hpp"
#include "tests/app/platform/linux/PlatformTest.hpp"
#include "tests/support/Fifo.hpp"

#include <QLocalServer>
#include <QLocalSocket>

#include <fstream>
#include <future>
#include <sys/stat.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;
using json = nlohmann::json;
using Lines = std::vector<std::string>;

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
    // A headless Korvel start with `urls`; it prints "primary", or "forwarded" once it has handed them over.
    std::unique_ptr<BackgroundProcess> start(Lines urls = {}) const
    {
        urls.insert(urls.begin(), {"SingleInstanceProbe", socket.string()});
        return std::make_unique<BackgroundProcess>(KORVEL_SINGLE_INSTANCE_PROBE, BackgroundProcess::Options {urls});
    }

    static std::string firstLine(BackgroundProcess& process)
    {
        return process.waitForLine([](const std::string&) { return true; }).value_or("");
    }

    // Runs a later start to its end: whether it handed over and exited with 0.
    bool handOver(Lines urls) const
    {
        auto later = start(std::move(urls));
        return firstLine(*later) == "forwarded" && later->wait() == 0;
    }

    // Raw frames over a connection of our own, while this process's event loop serves the first instance.
    void send(const std::vector<json>& requests)
    {
        if (raw.state() != QLocalSocket::ConnectedState) {
            raw.connectToServer(QString::fromStdString(socket.string()));
            ASSERT_TRUE(raw.waitForConnected(5000));
        }
        std::string frames;
        for (const auto& request : requests)
            frames += InstanceMessage::encode(request);
        raw.write(frames.data(), static_cast<qint64>(frames.size()));
    }

    // The frames that came, once `count` have or `timeout` has passed.
    std::vector<json> receive(size_t count, std::chrono::milliseconds timeout = 20s)
    {
        std::vector<json> frames;
        waitUntil(
            [&] {
                buffer += raw.readAll().toStdString();
                while (auto frame = InstanceMessage::take(buffer)) {
                    if ((*frame)["type"] != "working") // the heartbeat while a command runs
                        frames.push_back(*frame);
                }
                return frames.size() >= count;
            },
            timeout);
        return frames;
    }

    Sandbox sandbox;
    std::filesystem::path socket = sandbox.runtimeDir() / "korvel-test.socket";
    QLocalSocket raw;
    std::string buffer;
};

} // namespace

TEST_F(SingleInstanceTest, LaterStartsHandTheirLinksOrAShowRequestToTheFirstAndExitWithZero)
{
    const auto primary = start();
    ASSERT_EQ(firstLine(*primary), "primary");
    const Lines urls = {"claude://claude.ai/new?q=a b", "claude://login/callback?code=\"x\"&y=1", "CLAUDE://x"};
    EXPECT_TRUE(handOver(urls));
    EXPECT_EQ(primary->waitForLine("urls "), "urls " + json(urls).dump());
    // Only claude: links are handed on: anything else could reach Claude as a switch or open another address.
    EXPECT_TRUE(handOver({"--renderer-cmd-prefix=/tmp/x", "file:///etc/shadow", "claude://kept", "javascript:x"}));
    EXPECT_EQ(primary->waitForLine("urls "), "urls [\"claude://kept\"]");
    EXPECT_TRUE(handOver({"--gpu-launcher=x"}));
    EXPECT_TRUE(handOver({}));
    EXPECT_EQ(primary->waitForLine("show"), "show");
    EXPECT_EQ(primary->lines().end()[-2], "urls [\"claude://kept\"]") << "nothing for a hand-over without links";
    EXPECT_FALSE(primary->hasExited());
}

TEST_F(SingleInstanceTest, OfTwoSimultaneousStartsExactlyOneBecomesTheFirst)
{
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<BackgroundProcess> starts[] = {start({"claude://0"}), start({"claude://1"})};
        const std::string lines[] = {firstLine(*starts[0]), firstLine(*starts[1])};
        const int first = lines[0] == "primary" ? 0 : 1;
        EXPECT_EQ(lines[first], "primary");
        EXPECT_EQ(lines[1 - first], "forwarded");
        EXPECT_EQ(starts[first]->waitForLine("urls "), "urls [\"claude://" + std::to_string(1 - first) + "\"]");
    }
}

TEST_F(SingleInstanceTest, ASocketLeftBehindNeverBlocksTheNextStart)
{
    // A crash leaves the socket file; the lock goes with the process.
    auto first = start();
    ASSERT_EQ(firstLine(*first), "primary");
    first->signal(SIGKILL);
    first->wait();
    ASSERT_TRUE(std::filesystem::is_socket(socket));
    auto next = start();
    ASSERT_EQ(firstLine(*next), "primary");
    EXPECT_TRUE(handOver({"claude://after-crash"}));
    EXPECT_EQ(next->waitForLine("urls "), "urls [\"claude://after-crash\"]");
}

TEST_F(SingleInstanceTest, WithoutAnyInstanceAHandOverFailsInsteadOfWaitingForever)
{
    // Someone holds the lock but never listens: the later start gives up and says so.
    SingleInstance holder(socket);
    ASSERT_TRUE(holder.listen());
    EXPECT_FALSE(SingleInstance(socket).listen()) << "the lock is held";
    EXPECT_TRUE(SingleInstance::isTaken(socket));
    EXPECT_FALSE(SingleInstance::isTaken(sandbox.runtimeDir() / "nobody.socket"));
    EXPECT_EQ(SingleInstance::defaultSocketPath(),
        sandbox.runtimeDir() / ("korvel-" + std::to_string(::geteuid()) + ".socket"));
    EXPECT_THROW(SingleInstance(socket).send({{"type", "show"}}, 500ms), std::runtime_error);
}

TEST_F(SingleInstanceTest, NoStartWaitsForeverOnAPlantedLockOrASilentInstanceAndConnectionsHoldLittle)
{
    // Only a regular file will do as the lock: a named pipe would block whoever opens it.
    const std::filesystem::path lock = socket.string() + ".lock";
    Fifo::make(lock);
    EXPECT_TRUE(Fifo::readsWithoutWaiting(lock, [&] {
        for (const auto& attempt : std::vector<std::function<void()>> {
                 [&] { SingleInstance::isTaken(socket); }, [&] { SingleInstance(socket).listen(); }}) {
            try {
                attempt();
                ADD_FAILURE() << "a named pipe was taken for the lock";
            } catch (const std::runtime_error& error) {
                EXPECT_NE(std::string(error.what()).find("isn’t a regular file"), std::string::npos) << error.what();
            }
        }
    }));
    std::filesystem::remove(lock);

    // An instance that accepts and never answers: the command gives up after the silence it allows.
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(QString::fromStdString(socket.string())));
    auto reply =
        std::async(std::launch::async, [&] { return SingleInstance(socket).sendCommand({"list"}, {}, 5s, 1s); });
    ASSERT_TRUE(waitUntil([&] { return reply.wait_for(0s) == std::future_status::ready; }, 20s));
    try {
        reply.get();
        ADD_FAILURE() << "a reply from silence";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The running Korvel stopped answering.");
    }
    silent.close();

    // A command that takes long is not silence: the heartbeat keeps its caller waiting.
    SingleInstance first(socket);
    ASSERT_TRUE(first.listen());
    std::vector<SingleInstance::CommandResponder> pending;
    first.setCommandHandler(
        [&](const Lines&, SingleInstance::CommandResponder responder) { pending.push_back(responder); });
    auto slow =
        std::async(std::launch::async, [&] { return SingleInstance(socket).sendCommand({"sync"}, {}, 5s, 2500ms); });
    ASSERT_TRUE(waitUntil([&] { return !pending.empty(); }));
    spin(6s);
    pending[0].reply({0, "synced", ""});
    ASSERT_TRUE(waitUntil([&] { return slow.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(slow.get().output, "synced");

    // Many connections from another process, each holding most of a large frame: what this process holds for them
    // stays bounded, and a new request is still answered.
    const auto residentBytes = [] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages >> pages;
        return pages * ::sysconf(_SC_PAGESIZE);
    };
    [[maybe_unused]] const long before = residentBytes();
    const std::filesystem::path holders = sandbox.root() / "holders.py";
    writeText(holders, R"py(import socket, sys, threading, time
def hold():
    connection = socket.socket(socket.AF_UNIX)
    try:
        connection.connect(sys.argv[1])
        connection.sendall(b"\x00\x0f\xff\xff" + b"x" * (900 * 1024))
        time.sleep(8)
    except OSError:
        pass  # refused or ended by Korvel
for _ in range(60):
    threading.Thread(target=hold, daemon=True).start()
time.sleep(8)
)py");
    BackgroundProcess python("/usr/bin/python3", {.arguments = {"python3", holders.string(), socket.string()}});
    spin(4s);
#ifndef __SANITIZE_ADDRESS__ // its quarantine keeps freed memory resident
    EXPECT_LT(residentBytes() - before, static_cast<long>(2 * SingleInstance::maximumHeld))
        << "60 connections of 900 kB each";
#endif
    send({{{"type", "show"}}});
    const auto answers = receive(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["type"], "ack");
}

// Without a runtime folder the socket lives in a folder of its own in the folder everyone shares, where anyone
// could have made that folder first: only a real folder of ours that no one else may enter will do.
TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheSocketFolderInTmpMustBePrivate)
{
    sandbox.set("XDG_RUNTIME_DIR", std::nullopt);
    const std::filesystem::path tmp = sandbox.root() / "tmp";
    std::filesystem::create_directories(tmp);
    const std::filesystem::path folder = tmp / ("korvel-" + std::to_string(::geteuid()));
    const mode_t umask = ::umask(0);
    const auto made = SingleInstance::defaultSocketPath(tmp);
    ::umask(umask);
    EXPECT_EQ(made, folder / "korvel.socket");
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(SingleInstance::defaultSocketPath(tmp), made) << "an existing private folder is fine";

    const auto refused = [&](const std::string& what) {
        SCOPED_TRACE(what);
        try {
            SingleInstance::defaultSocketPath(tmp);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(folder.string()), std::string::npos) << error.what();
        }
    };
    for (const auto mode : {0750, 0701, 0707}) {
        ::chmod(folder.c_str(), static_cast<mode_t>(mode));
        refused("mode " + std::to_string(mode));
    }
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(tmp / "elsewhere", tmp);
    std::filesystem::permissions(tmp / "elsewhere", std::filesystem::perms::owner_all);
    std::filesystem::create_directory_symlink(tmp / "elsewhere", folder);
    refused("a link to a private folder");
    std::filesystem::remove(folder);
    writeText(folder, "");
    refused("a file");
}

TEST_F(SingleInstanceTest, RequestsAreAnsweredInOrderCommandsWhenTheirWorkIsDoneAndGarbageEndsOnlyItsConnection)
{
    SingleInstance first(socket);
    ASSERT_TRUE(first.listen());
    std::vector<Lines> commands;
    std::vector<SingleInstance::CommandResponder> pending;
    first.setCommandHandler([&](const Lines& argv, SingleInstance::CommandResponder responder) {
        commands.push_back(argv);
        pending.push_back(std::move(responder));
    });
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&shows] { ++shows; });

    send({{{"type", "command"}, {"argv", {"rebuild", "Work"}}, {"progress", true}}, {{"type", "show"}},
        {{"type", "launch-rockets"}}});
    EXPECT_TRUE(receive(1, 500ms).empty()) << "nothing is answered while the command runs";
    ASSERT_EQ(commands, (std::vector<Lines> {{"rebuild", "Work"}}));
    EXPECT_TRUE(pending[0].wantsProgress());
    EXPECT_EQ(shows, 0) << "the show request waits for the command's reply";

    pending[0].progress("Work: Copying Claude…");
    pending[0].reply({1, "", "Couldn’t create the app for Work\n"});
    pending[0].progress("too late");
    pending[0].reply({0, "twice", ""});
    const auto answers = receive(4);
    ASSERT_EQ(answers.size(), 4U);
    EXPECT_EQ(answers[0], (json {{"type", "progress"}, {"line", "Work: Copying Claude…"}}));
    EXPECT_EQ(answers[1],
        (json {
            {"type", "reply"}, {"status", 1}, {"output", ""}, {"errorOutput", "Couldn’t create the app for Work\n"}}));
    EXPECT_EQ(answers[2]["type"], "ack");
    EXPECT_EQ(answers[3]["type"], "error");
    EXPECT_EQ(shows, 1);
    EXPECT_TRUE(receive(1, 500ms).empty()) << "one reply per command";

    // Garbage ends the connection, not the listener.
    raw.write(std::string("\0\0\0\x05[1,2]", 9).c_str(), 9);
    EXPECT_TRUE(waitUntil([&] { return raw.state() == QLocalSocket::UnconnectedState; }, 20s));
    EXPECT_TRUE(first.isListening());
    // A later start's sendCommand hands over the progress lines and the reply.
    Lines lines;
    auto reply = std::async(std::launch::async,
        [&] { return SingleInstance(socket).sendCommand({"list"}, [&](const auto& line) { lines.push_back(line); }); });
    ASSERT_TRUE(waitUntil([&] { return pending.size() == 2; }));
    EXPECT_TRUE(pending[1].wantsProgress());
    pending[1].progress("step");
    pending[1].reply({3, "out", "err"});
    ASSERT_TRUE(waitUntil([&] { return reply.wait_for(0s) == std::future_status::ready; }));
    const auto [status, output, errorOutput] = reply.get();
    EXPECT_EQ(std::tie(status, output, errorOutput), std::make_tuple(3, "out", "err"));
    EXPECT_EQ(lines, Lines {"step"});

    // A responder whose sender has gone does nothing.
    send({{{"type", "command"}, {"argv", {"list"}}}});
    ASSERT_TRUE(waitUntil([&] { return pending.size() == 3; }));
    EXPECT_FALSE(pending[2].wantsProgress());
    raw.abort();
    spin(100ms);
    pending[2].reply({0, "gone", ""});
}

TEST(InstanceMessage, OnlyCompleteFramesAreTakenAndMalformedOnesThrow)
{
    const std::string frame = InstanceMessage::encode({{"type", "urls"}, {"urls", {"claude://a", "claude://ü"}}});
    std::string buffer = frame.substr(0, 3);
    EXPECT_EQ(InstanceMessage::take(buffer), std::nullopt);
    buffer += frame.substr(3, 10);
    EXPECT_EQ(InstanceMessage::take(buffer), std::nullopt);
    buffer += frame.substr(13) + frame;
    EXPECT_EQ(InstanceMessage::take(buffer).value_or(json())["urls"][1], "claude://ü");
    EXPECT_TRUE(InstanceMessage::take(buffer));
    EXPECT_TRUE(buffer.empty());
    for (std::string bad :
        {std::string("\x7f\0\0\0", 4), std::string("\0\0\0\x02[]", 6), std::string("\0\0\0\x02{}", 6)}) {
        SCOPED_TRACE(bad.substr(4));
        EXPECT_THROW(InstanceMessage::take(bad), std::runtime_error);
    }
}
