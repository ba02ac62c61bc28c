#pragma once

#include <stdexcept>

namespace korvel::test {

// The exception of type Error that `call` throws, for checking its details. When `call` throws nothing, a
// std::logic_error ends the test; an exception of another type passes through and ends it too.
template<typename Error, typename Call>
Error thrown(Call call)
{
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    throw std::logic_error("the call threw nothing");
}

} // namespace korvel::test
