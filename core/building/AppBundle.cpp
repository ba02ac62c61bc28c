#include "core/building/AppBundle.hpp"

#include "core/building/InfoPlistPatcher.hpp"

namespace korvel::AppBundle {

std::filesystem::path infoPlist(const std::filesystem::path& bundle)
{
    return bundle / "Contents" / "Info.plist";
}

std::optional<std::string> identifier(const std::filesystem::path& bundle)
{
    return InfoPlistPatcher::readStringValue(infoPlist(bundle), "CFBundleIdentifier");
}

std::optional<std::filesystem::path> executable(const std::filesystem::path& bundle)
{
    const auto name = InfoPlistPatcher::readStringValue(infoPlist(bundle), "CFBundleExecutable");
    if (!name || name->empty() || name->find('/') != std::string::npos)
        return std::nullopt;
    return bundle / "Contents" / "MacOS" / *name;
}

std::filesystem::path resolvedLocation(const std::filesystem::path& bundle)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(bundle, error);
    return error ? bundle.lexically_normal() : resolved;
}

std::optional<std::filesystem::path> containing(const std::filesystem::path& file)
{
    const std::filesystem::path macos = file.parent_path();
    const std::filesystem::path contents = macos.parent_path();
    const std::filesystem::path bundle = contents.parent_path();
    if (!file.has_filename() || macos.filename() != "MacOS" || contents.filename() != "Contents")
        return std::nullopt;
    const std::string name = bundle.filename().string();
    if (name.size() <= 4 || !name.ends_with(".app"))
        return std::nullopt;
    return bundle;
}

} // namespace korvel::AppBundle
