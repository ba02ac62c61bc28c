#include "launcher/LaunchArguments.hpp"

#include "core/model/ClaudeDesktop.hpp"

#include <cstring>

namespace korvel::launcher::LaunchArguments {

std::vector<std::string> build(
    const std::string& executable, const std::string& dataDir, int argc, const char* const argv[])
{
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc) + 2);
    arguments.push_back(executable);
    arguments.push_back(std::string(ClaudeDesktop::userDataDirSwitch) + dataDir);
    const size_t switchLength = std::strlen(dataDirSwitch);
    for (int index = 1; index < argc; ++index) {
        if (std::strncmp(argv[index], dataDirSwitch, switchLength) != 0)
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
