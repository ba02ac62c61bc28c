#include "app/platform/fake/FakeLoginItem.hpp"

#include <stdexcept>

namespace korvel {

void FakeLoginItem::enable()
{
    ++enableCalls;
    if (failure)
        throw std::runtime_error(*failure);
    enabled = true;
}

void FakeLoginItem::disable()
{
    ++disableCalls;
    if (failure)
        throw std::runtime_error(*failure);
    enabled = false;
}

} // namespace korvel
