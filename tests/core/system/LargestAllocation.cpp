#include "tests/core/system/LargestAllocation.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> largestRequest {0};
}

void* operator new(std::size_t size)
{
    for (std::size_t seen = largestRequest; size > seen && !largestRequest.compare_exchange_weak(seen, size);) { }
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace korvel::test {

std::size_t largestAllocation(const std::function<void()>& call)
{
    largestRequest = 0;
    call();
    return largestRequest;
}

} // namespace korvel::test
