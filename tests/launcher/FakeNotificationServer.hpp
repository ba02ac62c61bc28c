#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvel::test {

// One org.freedesktop.Notifications.Notify call as the server received it.
struct ReceivedNotification
{
    std::string appName;
    std::uint32_t replacesId = 0;
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    std::size_t hintCount = 0;
    std::int32_t expireTimeout = -1;
};

// Owns org.freedesktop.Notifications on a bus and records Notify calls. Replies are held back until the
// server is destroyed, so a sender that waited for its reply would visibly hang.
class FakeNotificationServer
{
public:
    explicit FakeNotificationServer(const std::string& busAddress); // throws std::runtime_error
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    // Waits for the next Notify call, at most `timeout`.
    std::optional<ReceivedNotification> next(std::chrono::milliseconds timeout);

    struct Loop; // the GLib side, run on its own thread

private:
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
};

} // namespace korvel::test
