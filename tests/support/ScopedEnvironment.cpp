#include "tests/support/ScopedEnvironment.hpp"

#include <cstdlib>

namespace korvel::test {
namespace {

void apply(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

} // namespace

ScopedEnvironment::~ScopedEnvironment()
{
    // Newest first, so that a variable set twice ends with its original value.
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        apply(it->first, it->second);
}

void ScopedEnvironment::set(const std::string& name, const std::optional<std::string>& value)
{
    const char* previous = std::getenv(name.c_str());
    m_saved.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    apply(name, value);
}

} // namespace korvel::test
