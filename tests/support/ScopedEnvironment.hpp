#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvel::test {

// Sets (or, with nullopt, unsets) environment variables for the lifetime of the object and puts the
// previous values back afterwards, so that a test can point HOME, XDG_* or KORVEL_* at temp folders.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const std::string& name, const std::optional<std::string>& value) { set(name, value); }
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace korvel::test
