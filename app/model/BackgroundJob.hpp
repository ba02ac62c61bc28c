#pragma once

#include "app/model/ModelGone.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>
#include <qcoro/qcorotask.h>

#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace korvel {

// An awaitable that runs `work` on Qt's global thread pool and resumes the awaiting coroutine on the main thread
// with its result or its exception. `work` must only use values it owns: the main thread goes on meanwhile.
template<typename Result>
class BackgroundJob
{
public:
    explicit BackgroundJob(std::function<Result()> work)
        : m_work(std::move(work))
    { }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiting)
    {
        Q_ASSERT(QCoreApplication::instance());
        QThreadPool::globalInstance()->start([this, waiting] {
            try {
                if constexpr (std::is_void_v<Result>)
                    m_work();
                else
                    m_result.emplace(m_work());
            } catch (...) {
                m_error = std::current_exception();
            }
            // The event queue orders these writes before the read in await_resume.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
        });
    }

    Result await_resume()
    {
        if (m_error)
            std::rethrow_exception(m_error);
        if constexpr (!std::is_void_v<Result>)
            return std::move(*m_result);
    }

private:
    struct Nothing
    { };
    std::function<Result()> m_work;
    std::optional<std::conditional_t<std::is_void_v<Result>, Nothing, Result>> m_result;
    std::exception_ptr m_error;
};

// The job as a task, so that whileAlive can wrap it.
template<typename Result>
QCoro::Task<Result> awaitJob(std::function<Result()> work)
{
    BackgroundJob<Result> job(std::move(work));
    co_return co_await job;
}

// Runs `work` in the background and hands its outcome to the awaiting coroutine on the main thread, unless
// `owner` was destroyed meanwhile: then the coroutine ends with ModelGone.
template<typename Function>
QCoro::Task<std::invoke_result_t<Function&>> runInBackground(QPointer<QObject> owner, Function work)
{
    using Result = std::invoke_result_t<Function&>;
    // Every task is named before it is awaited: g++ 12 destroys temporaries of a co_await expression twice.
    std::function<Result()> job(std::move(work));
    auto running = awaitJob<Result>(std::move(job));
    auto guarded = whileAlive(std::move(owner), std::move(running));
    co_return co_await guarded;
}

} // namespace korvel
