#include "core/system/CommandError.hpp"

#include "core/support/UnicodeText.hpp"

namespace korvel {

CommandError::CommandError(std::string command, int status, std::string output)
    : std::runtime_error(
          command + " failed (exit " + std::to_string(status) + "): " + UnicodeText::trimWhiteSpace(output))
    , m_command(std::move(command))
    , m_status(status)
    , m_output(std::move(output))
{ }

} // namespace korvel
