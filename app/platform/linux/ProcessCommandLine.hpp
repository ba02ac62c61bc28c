#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// A process's arguments as /proc/PID/cmdline shows them. Chromium-family programs rewrite that area with a process
// title: their helpers show one string, the arguments joined by spaces; such a title is split before each " --".
class ProcessCommandLine
{
public:
    explicit ProcessCommandLine(std::string_view text);

    bool empty() const { return m_arguments.empty(); }
    const std::vector<std::string>& arguments() const { return m_arguments; }
    // The value of the first "--name=value" switch (also with one dash), or nothing.
    std::optional<std::string> switchValue(std::string_view name) const;
    // Whether it is a helper of a Chromium-family program: "--type=" names its role (renderer, zygote, GPU…).
    bool isHelper() const { return switchValue("type").has_value(); }

private:
    std::vector<std::string> m_arguments;
};

} // namespace korvel
