#include "tests/app/platform/linux/EventLoop.hpp"

#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <memory>
#include <stdexcept>

namespace korvel::test {
namespace {

struct Outcome
{
    bool finished = false;
    std::exception_ptr error;
};

QCoro::Task<> observe(QCoro::Task<> task, std::shared_ptr<Outcome> outcome)
{
    try {
        co_await std::move(task);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->finished = true;
}

} // namespace

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10); // wakes the loop to look again, without spinning
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        loop.exec();
    }
    return true;
}

void runTask(QCoro::Task<> task, std::chrono::milliseconds timeout)
{
    auto outcome = std::make_shared<Outcome>();
    auto observer = observe(std::move(task), outcome);
    if (!spinUntil([&] { return outcome->finished; }, timeout))
        throw std::runtime_error("the task did not complete in time");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
}

} // namespace korvel::test
