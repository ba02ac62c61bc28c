#pragma once

#include <cstddef>
#include <functional>

namespace korvel::test {

// The largest single allocation `call` asked for. Only in a program linked with LargestAllocation.cpp, which
// replaces operator new for the whole program.
std::size_t largestAllocation(const std::function<void()>& call);

} // namespace korvel::test
