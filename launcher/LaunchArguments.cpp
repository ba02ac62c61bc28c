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

std::vector<std::string> build(
    const std::string& executable, const std::string& dataDir, int argc, const char* const argv[])
{
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc) + 2);
    arguments.push_back(executable);
    arguments.push_back(std::string(ClaudeDesktop::userDataDirSwitch) + dataDir);
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
