#include "app/platform/linux/LinuxMainBundle.hpp"

#include "core/building/AppBundle.hpp"

namespace korvel {

std::filesystem::path LinuxMainBundle::currentExecutable()
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

LinuxMainBundle::LinuxMainBundle(const std::filesystem::path& executable)
    : m_bundle(AppBundle::containing(executable).value_or(executable.parent_path()))
{ }

} // namespace korvel
