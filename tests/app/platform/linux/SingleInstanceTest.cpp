#include "app/platform/linux/SingleInstance.hpp"
#include "app/platform/linux/InstanceMessage.hpp"
#include "tests/app/platform/linux/Sandbox.hpp"
#include "tests/support/BackgroundProcess.hpp"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "SingleInstanceTest";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    std::unique_ptr<BackgroundProcess> start(std::vector<std::string> urls = {})
    {
        urls.insert(urls.begin(), {"SingleInstanceProbe", "--socket", socket.string()});
        return std::make_unique<BackgroundProcess>(KORVEL_SINGLE_INSTANCE_PROBE,
            BackgroundProcess::Options {.arguments = urls, .environment = sandbox.environment()});
    }

    std::unique_ptr<BackgroundProcess> startPrimary()
    {
        auto primary = start();
        EXPECT_TRUE(primary->waitForLine("primary "));
        return primary;
    }

    // Runs a later start to its end; its exit status and first line.
    std::pair<int, std::string> handOver(std::vector<std::string> urls)
    {
        auto later = start(std::move(urls));
        const auto line = later->waitForLine([](const std::string&) { return true; });
        return {later->wait().value_or(-1), line.value_or("")};
    }

    Sandbox sandbox;
    std::filesystem::path socket = sandbox.runtimeDir() / "korvel-test.socket";
};

// A socket file bound and left behind, as by a process that died.
void leaveStaleSocket(const std::filesystem::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::is_socket(path));
}

} // namespace

TEST_F(SingleInstanceTest, LaterStartsHandTheirLinksOrAShowRequestToTheFirstAndExitWithZero)
{
    const auto primary = startPrimary();
    const std::vector<std::string> urls = {"claude://claude.ai/new?q=a b", "claude://login/callback?code=\"x\"&y=1"};

    EXPECT_EQ(handOver(urls), std::make_pair(0, std::string("forwarded")));
    EXPECT_EQ(primary->waitForLine("urls "), "urls " + nlohmann::json(urls).dump());
    EXPECT_EQ(handOver({}), std::make_pair(0, std::string("forwarded")));
    EXPECT_EQ(primary->waitForLine("show"), "show");
    EXPECT_EQ(handOver({"claude://third"}), std::make_pair(0, std::string("forwarded")));
    EXPECT_EQ(primary->waitForLine("urls "), "urls [\"claude://third\"]");
    EXPECT_FALSE(primary->hasExited());
}

TEST_F(SingleInstanceTest, OfTwoSimultaneousStartsExactlyOneBecomesTheFirst)
{
    for (int round = 0; round < 3; ++round) {
        auto one = start({"claude://one"});
        auto two = start({"claude://two"});
        const auto first = one->waitForLine([](const std::string&) { return true; }).value_or("");
        const auto second = two->waitForLine([](const std::string&) { return true; }).value_or("");
        const bool oneIsFirst = first.starts_with("primary ");
        EXPECT_NE(oneIsFirst, second.starts_with("primary ")) << first << " / " << second;
        EXPECT_EQ(oneIsFirst ? second : first, "forwarded");
        BackgroundProcess& primary = oneIsFirst ? *one : *two;
        EXPECT_EQ(primary.waitForLine("urls "), oneIsFirst ? "urls [\"claude://two\"]" : "urls [\"claude://one\"]");
        one.reset();
        two.reset();
    }
}

TEST_F(SingleInstanceTest, ASocketLeftBehindNeverBlocksTheNextStart)
{
    leaveStaleSocket(socket);
    auto first = startPrimary();

    // A crash leaves the socket file; the lock goes with the process.
    first->signal(SIGKILL);
    first->wait();
    ASSERT_TRUE(std::filesystem::exists(socket));
    auto next = startPrimary();
    EXPECT_EQ(handOver({"claude://after-crash"}), std::make_pair(0, std::string("forwarded")));
    EXPECT_EQ(next->waitForLine("urls "), "urls [\"claude://after-crash\"]");
}

TEST_F(SingleInstanceTest, WithoutAnyInstanceAHandOverFailsInsteadOfWaitingForever)
{
    // Someone holds the lock but never listens: the later start gives up and says so.
    SingleInstance holder(socket);
    ASSERT_TRUE(holder.listen());
    const SingleInstance later(socket);
    EXPECT_THROW(later.send({{"type", "show"}}, 500ms), std::runtime_error);
}

TEST_F(SingleInstanceTest, RequestsGetRepliesInOrderAndMalformedConnectionsDoNotHurtTheListener)
{
    SingleInstance first(socket);
    ASSERT_TRUE(first.listen());
    EXPECT_FALSE(SingleInstance(socket).listen()) << "the lock is held";
    first.setCommandHandler([](const std::vector<std::string>& argv, SingleInstance::CommandResponder responder) {
        responder.reply({static_cast<int>(argv.size()), "ran " + argv.at(0), "said " + argv.at(1)});
    });
    std::vector<std::string> received;
    QObject::connect(&first, &SingleInstance::urlsReceived, [&](const auto& urls) { received = urls; });

    // The client side runs in another process, as it does in real use; this one keeps its event loop going.
    auto client = std::make_unique<BackgroundProcess>(KORVEL_SINGLE_INSTANCE_PROBE,
        BackgroundProcess::Options {.arguments = {"SingleInstanceProbe", "--socket", socket.string(), "claude://x"},
            .environment = sandbox.environment()});
    ASSERT_TRUE(QCoreApplication::instance());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!client->hasExited() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        client->wait(10ms);
    }
    EXPECT_EQ(client->wait(0ms), 0);
    EXPECT_EQ(received, std::vector<std::string> {"claude://x"});

    // Raw frames: a command, an unknown request, then garbage that ends the connection.
    QLocalSocket raw;
    raw.connectToServer(QString::fromStdString(socket.string()));
    ASSERT_TRUE(raw.waitForConnected(5000));
    const std::string frames = InstanceMessage::encode({{"type", "command"}, {"argv", {"status", "--all"}}}) +
        InstanceMessage::encode({{"type", "launch-rockets"}});
    raw.write(frames.data(), static_cast<qint64>(frames.size()));
    std::string buffer;
    std::vector<nlohmann::json> replies;
    const auto replyDeadline = std::chrono::steady_clock::now() + 20s;
    while (replies.size() < 2 && std::chrono::steady_clock::now() < replyDeadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        raw.waitForReadyRead(10);
        const QByteArray incoming = raw.readAll();
        buffer.append(incoming.constData(), static_cast<size_t>(incoming.size()));
        while (auto reply = InstanceMessage::take(buffer))
            replies.push_back(*reply);
    }
    ASSERT_EQ(replies.size(), 2U);
    EXPECT_EQ(replies[0],
        (nlohmann::json {{"type", "reply"}, {"status", 2}, {"output", "ran status"}, {"errorOutput", "said --all"}}));
    EXPECT_EQ(replies[1]["type"], "error");

    const std::string garbage = std::string("\0\0\0\x05", 4) + "[1,2]";
    raw.write(garbage.data(), static_cast<qint64>(garbage.size()));
    const auto closeDeadline = std::chrono::steady_clock::now() + 20s;
    while (raw.state() != QLocalSocket::UnconnectedState && std::chrono::steady_clock::now() < closeDeadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (raw.state() != QLocalSocket::UnconnectedState)
            raw.waitForDisconnected(10);
    }
    EXPECT_EQ(raw.state(), QLocalSocket::UnconnectedState);
    EXPECT_TRUE(first.isListening());
}

// Frames read from `socket` while the event loop runs, until `count` have come or `timeout` has passed.
std::vector<nlohmann::json> framesFrom(
    QLocalSocket& socket, std::string& buffer, size_t count, std::chrono::milliseconds timeout = 20s)
{
    std::vector<nlohmann::json> frames;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (frames.size() < count && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        socket.waitForReadyRead(10);
        const QByteArray incoming = socket.readAll();
        buffer.append(incoming.constData(), static_cast<size_t>(incoming.size()));
        while (auto frame = InstanceMessage::take(buffer))
            frames.push_back(*frame);
    }
    return frames;
}

TEST_F(SingleInstanceTest, ACommandAnswersWhenItsWorkIsDoneAndTheRequestsAfterItWait)
{
    SingleInstance first(socket);
    ASSERT_TRUE(first.listen());
    std::vector<SingleInstance::CommandResponder> pending;
    first.setCommandHandler([&pending](const std::vector<std::string>&, SingleInstance::CommandResponder responder) {
        pending.push_back(std::move(responder));
    });
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&shows] { ++shows; });

    QLocalSocket raw;
    raw.connectToServer(QString::fromStdString(socket.string()));
    ASSERT_TRUE(raw.waitForConnected(5000));
    const std::string frames =
        InstanceMessage::encode({{"type", "command"}, {"argv", {"rebuild", "Work"}}, {"progress", true}}) +
        InstanceMessage::encode({{"type", "show"}});
    raw.write(frames.data(), static_cast<qint64>(frames.size()));
    std::string buffer;
    EXPECT_TRUE(framesFrom(raw, buffer, 1, 500ms).empty()) << "nothing is answered while the command runs";
    ASSERT_EQ(pending.size(), 1U);
    EXPECT_TRUE(pending[0].wantsProgress());
    EXPECT_EQ(shows, 0) << "the show request waits for the command's reply";

    pending[0].progress("Work: Copying Claude…");
    pending[0].reply({1, "", "Couldn’t create the app for Work\n"});
    pending[0].progress("too late");
    pending[0].reply({0, "twice", ""});
    const auto answers = framesFrom(raw, buffer, 3);
    ASSERT_EQ(answers.size(), 3U);
    EXPECT_EQ(answers[0], (nlohmann::json {{"type", "progress"}, {"line", "Work: Copying Claude…"}}));
    EXPECT_EQ(answers[1],
        (nlohmann::json {
            {"type", "reply"}, {"status", 1}, {"output", ""}, {"errorOutput", "Couldn’t create the app for Work\n"}}));
    EXPECT_EQ(answers[2], (nlohmann::json {{"type", "ack"}}));
    EXPECT_EQ(shows, 1);
    EXPECT_TRUE(framesFrom(raw, buffer, 1, 500ms).empty()) << "one reply per command";

    // A responder whose sender has gone does nothing.
    const std::string again = InstanceMessage::encode({{"type", "command"}, {"argv", {"list"}}});
    raw.write(again.data(), static_cast<qint64>(again.size()));
    framesFrom(raw, buffer, 1, 500ms);
    ASSERT_EQ(pending.size(), 2U);
    EXPECT_FALSE(pending[1].wantsProgress());
    raw.abort();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    pending[1].reply({0, "gone", ""});
}

TEST_F(SingleInstanceTest, SendCommandWaitsForTheReplyAndHandsOverTheProgress)
{
    SingleInstance first(socket);
    ASSERT_TRUE(first.listen());
    first.setCommandHandler([](const std::vector<std::string>& argv, SingleInstance::CommandResponder responder) {
        // Answered from the event loop a little later, like a build.
        QTimer::singleShot(200, [argv, responder] {
            responder.progress("step of " + argv.at(0));
            responder.reply({3, "out", "err"});
        });
    });
    EXPECT_TRUE(SingleInstance::isTaken(socket));
    EXPECT_FALSE(SingleInstance::isTaken(sandbox.runtimeDir() / "nobody.socket"));

    std::vector<std::string> lines;
    SingleInstance::CommandReply reply;
    std::atomic<bool> done = false;
    std::thread client([&] {
        const SingleInstance later(socket);
        reply = later.sendCommand({"rebuild", "Work"}, [&lines](const std::string& line) { lines.push_back(line); });
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    client.join();
    EXPECT_EQ(reply.status, 3);
    EXPECT_EQ(reply.output, "out");
    EXPECT_EQ(reply.errorOutput, "err");
    EXPECT_EQ(lines, std::vector<std::string> {"step of rebuild"});
}

TEST(SingleInstanceSocket, LivesInTheRuntimeFolderNamedAfterTheUser)
{
    Sandbox sandbox;
    EXPECT_EQ(SingleInstance::defaultSocketPath(),
        sandbox.runtimeDir() / ("korvel-" + std::to_string(::geteuid()) + ".socket"));
}

TEST(InstanceMessage, FramesAreLengthPrefixedJsonObjectsAndOnlyCompleteOnesAreTaken)
{
    const std::string frame = InstanceMessage::encode({{"type", "urls"}, {"urls", {"claude://a", "claude://ü"}}});
    ASSERT_GE(frame.size(), 4U);
    const auto size = (static_cast<unsigned char>(frame[2]) << 8) | static_cast<unsigned char>(frame[3]);
    EXPECT_EQ(static_cast<size_t>(size), frame.size() - 4);
    EXPECT_EQ(frame[0], 0);

    std::string buffer = frame.substr(0, 3);
    EXPECT_EQ(InstanceMessage::take(buffer), std::nullopt);
    buffer += frame.substr(3, 10);
    EXPECT_EQ(InstanceMessage::take(buffer), std::nullopt);
    buffer += frame.substr(13) + frame;
    const auto first = InstanceMessage::take(buffer);
    ASSERT_TRUE(first);
    EXPECT_EQ((*first)["urls"][1], "claude://ü");
    EXPECT_TRUE(InstanceMessage::take(buffer));
    EXPECT_TRUE(buffer.empty());

    std::string oversized("\x7f\0\0\0", 4);
    EXPECT_THROW(InstanceMessage::take(oversized), std::runtime_error);
    std::string notAnObject = std::string("\0\0\0\x02", 4) + "[]";
    EXPECT_THROW(InstanceMessage::take(notAnObject), std::runtime_error);
    std::string noType = std::string("\0\0\0\x02", 4) + "{}";
    EXPECT_THROW(InstanceMessage::take(noType), std::runtime_error);
}
