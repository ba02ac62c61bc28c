#pragma once

#include <stdexcept>
#include <string>

namespace korvel {

// A system tool that exited unsuccessfully. what() is the user-facing message:
// command + " failed (exit " + status + "): " + output trimmed of white space and line breaks.
class CommandError : public std::runtime_error
{
public:
    CommandError(std::string command, int status, std::string output);

    const std::string& command() const { return m_command; } // path and arguments joined by blanks
    int status() const { return m_status; } // exit code, or the signal number
    const std::string& output() const { return m_output; } // stdout+stderr as received, not trimmed
    std::string description() const { return what(); }

private:
    std::string m_command;
    int m_status;
    std::string m_output;
};

} // namespace korvel
