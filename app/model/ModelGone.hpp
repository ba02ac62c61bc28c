#pragma once

#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>

namespace korvel {

// Ends a coroutine of the model whose model was destroyed while it waited. Deliberately not a std::exception,
// so that no error handler of the model mistakes it for a failure and touches the model.
struct ModelGone
{ };

// Awaits `task`; then, whatever its outcome, throws ModelGone when `owner` no longer exists.
template<typename T>
QCoro::Task<T> whileAlive(QPointer<QObject> owner, QCoro::Task<T> task)
{
    if constexpr (std::is_void_v<T>) {
        try {
            co_await task;
        } catch (...) {
            if (!owner)
                throw ModelGone {};
            throw;
        }
        if (!owner)
            throw ModelGone {};
    } else {
        std::optional<T> value;
        try {
            value.emplace(co_await task);
        } catch (...) {
            if (!owner)
                throw ModelGone {};
            throw;
        }
        if (!owner)
            throw ModelGone {};
        co_return std::move(*value);
    }
}

} // namespace korvel
