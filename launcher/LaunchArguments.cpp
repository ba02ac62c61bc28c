#include "launcher/LaunchArguments.hpp"

#include "core/model/ClaudeDesktop.hpp"

#include <algorithm>

namespace korvel::launcher::LaunchArguments {

bool isDropped(std::string_view argument)
{
    if (!argument.starts_with('-'))
        return false;
    const std::string_view name = argument.substr(argument.starts_with("--") ? 2 : 1);
    return std::any_of(droppedSwitches.begin(), droppedSwitches.end(),
        [name](std::string_view dropped) { return name.starts_with(dropped); });
}

std::vector<std::string> windowSwitches(TaskBarIdentity identity, const char* waylandDisplay, const char* display)
{
    const auto set = [](const char* value) { return value && *value; };
    if (identity == TaskBarIdentity::XWayland && set(waylandDisplay) && set(display))
        return {"--ozone-platform=x11"};
    return {};
}

std::vector<std::string> build(const std::string& executable, const std::string& dataDir,
    const std::vector<std::string>& own, int argc, const char* const argv[])
{
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc) + 2 + own.size());
    arguments.push_back(executable);
    arguments.push_back(std::string(ClaudeDesktop::userDataDirSwitch) + dataDir);
    arguments.insert(arguments.end(), own.begin(), own.end());
    for (int index = 1; index < argc; ++index) {
        if (!isDropped(argv[index]))
            arguments.emplace_back(argv[index]);
    }
    return arguments;
}

std::vector<char*> vector(std::vector<std::string>& arguments)
{
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (auto& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace korvel::launcher::LaunchArguments
