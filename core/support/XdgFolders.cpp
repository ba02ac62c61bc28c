#include "core/support/XdgFolders.hpp"

#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <string_view>
#include <unistd.h>

namespace korvel::XdgFolders {
namespace {

std::optional<std::filesystem::path> absoluteVariable(const char* name)
{
    if (const char* value = std::getenv(name); value && value[0] == '/')
        return std::filesystem::path(value);
    return std::nullopt;
}

} // namespace

std::filesystem::path home()
{
    if (const char* value = std::getenv("HOME"); value && *value)
        return value;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return entry->pw_dir;
    throw std::runtime_error("Korvel can’t find your home folder: HOME is not set.");
}

std::filesystem::path dataHome()
{
    if (auto folder = absoluteVariable("XDG_DATA_HOME"))
        return *folder;
    return home() / ".local/share";
}

std::filesystem::path configHome()
{
    if (auto folder = absoluteVariable("XDG_CONFIG_HOME"))
        return *folder;
    return home() / ".config";
}

std::vector<std::filesystem::path> dataDirs()
{
    std::vector<std::filesystem::path> folders {dataHome()};
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::string_view list = value && *value ? value : "/usr/local/share:/usr/share";
    while (!list.empty()) {
        const size_t end = std::min(list.find(':'), list.size());
        if (list.front() == '/')
            folders.emplace_back(list.substr(0, end));
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return folders;
}

std::optional<std::filesystem::path> runtimeDir()
{
    return absoluteVariable("XDG_RUNTIME_DIR");
}

} // namespace korvel::XdgFolders
