#pragma once

#include <stdexcept>
#include <string>

namespace korvel {

// A command that cannot run as typed: an unknown command or option, a missing argument, a colour, position or
// profile that does not exist. Nothing has changed when it is thrown. `usage` is the command's usage line, or
// empty when the message says all.
class UsageError : public std::runtime_error
{
public:
    explicit UsageError(const std::string& message, std::string usage = {})
        : std::runtime_error(message)
        , m_usage(std::move(usage))
    { }

    const std::string& usage() const { return m_usage; }

private:
    std::string m_usage;
};

} // namespace korvel
