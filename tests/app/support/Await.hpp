#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace korvel::test {

// Runs the main event loop until `done` holds; false when `timeout` passed first.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Waits until no job is left in Qt's global thread pool; one still running after `timeout` fails the test.
void waitForBackgroundJobs(std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Processes the events that are due now, including those they post in turn, for `duration` of real time.
void spin(std::chrono::milliseconds duration = std::chrono::milliseconds(20));

// Runs the event loop until `task` has finished and returns its result or rethrows its exception. A task that does
// not finish within `timeout` throws std::runtime_error, so that a hanging operation fails the test.
template<typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    struct State
    {
        bool done = false;
        std::exception_ptr error;
        std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    };
    auto state = std::make_shared<State>();
    // Catches inside the coroutine: QCoro 0.8's waitFor never returns when the awaited task throws. The state is
    // shared, for a task that outlives its timeout still ends.
    [](QCoro::Task<T> task, std::shared_ptr<State> state) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await task;
            else
                state->value.emplace(co_await task);
        } catch (...) {
            state->error = std::current_exception();
        }
        state->done = true;
    }(std::move(task), state);
    if (!waitUntil([&state] { return state->done; }, timeout))
        throw std::runtime_error("the task did not finish in time");
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

} // namespace korvel::test
