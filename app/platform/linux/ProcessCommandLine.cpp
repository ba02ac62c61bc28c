#include "app/platform/linux/ProcessCommandLine.hpp"

namespace korvel {
namespace {

// A title written over the arguments: one entry holding " --", with nothing after it but NUL padding.
bool isTitle(const std::vector<std::string>& entries)
{
    return entries.size() == 1 && entries.front().find(" --") != std::string::npos;
}

std::vector<std::string> splitTitle(std::string_view title)
{
    std::vector<std::string> arguments;
    for (size_t start = 0; start < title.size();) {
        size_t end = title.find(" --", start);
        if (end == std::string_view::npos)
            end = title.size();
        arguments.emplace_back(title.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

} // namespace

ProcessCommandLine::ProcessCommandLine(std::string_view text)
{
    std::vector<std::string> entries;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\0'), text.size());
        entries.emplace_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    while (!entries.empty() && entries.back().empty())
        entries.pop_back(); // the padding of a title shorter than the area it was written over
    m_arguments = isTitle(entries) ? splitTitle(entries.front()) : std::move(entries);
}

std::optional<std::string> ProcessCommandLine::switchValue(std::string_view name) const
{
    for (size_t index = 1; index < m_arguments.size(); ++index) {
        std::string_view argument = m_arguments[index];
        if (argument == "--")
            break; // what follows are arguments, not switches
        if (!argument.starts_with('-'))
            continue;
        argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
        if (argument.starts_with(name) && argument.substr(name.size()).starts_with('='))
            return std::string(argument.substr(name.size() + 1));
    }
    return std::nullopt;
}

} // namespace korvel
