#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

namespace korvel::test {

// Runs the Qt event loop (a Q*Application must exist) until `done` answers true or `timeout` passes;
// returns what `done` answers last.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs the event loop until `task` completes and rethrows what it threw; throws std::runtime_error when it
// does not complete within `timeout`.
void runTask(QCoro::Task<> task, std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace korvel::test
