#include "app/platform/linux/DataFolderIndex.hpp"

#include "core/building/AppBundle.hpp"

namespace korvel {

void DataFolderIndex::setFolder(std::optional<std::filesystem::path> folder)
{
    m_folder = std::move(folder);
}

void DataFolderIndex::add(const std::filesystem::path& bundle)
{
    m_bundles.insert(AppBundle::resolvedLocation(bundle));
}

std::optional<std::filesystem::path> DataFolderIndex::bundleFor(
    const std::filesystem::path& dataFolder, const std::optional<std::filesystem::path>& named)
{
    if (auto bundle = known(dataFolder))
        return bundle;
    if (named) {
        const auto bundle = AppBundle::resolvedLocation(*named);
        if (m_info.dataFolder(bundle) == dataFolder) {
            m_bundles.insert(bundle);
            return bundle;
        }
    }
    lookAtFolder();
    return known(dataFolder);
}

std::optional<std::filesystem::path> DataFolderIndex::known(const std::filesystem::path& dataFolder)
{
    for (auto it = m_bundles.begin(); it != m_bundles.end();) {
        const auto folder = m_info.dataFolder(*it);
        if (!folder && !std::filesystem::exists(AppBundle::infoPlist(*it))) {
            it = m_bundles.erase(it); // deleted or renamed
            continue;
        }
        if (folder == dataFolder)
            return *it;
        ++it;
    }
    return std::nullopt;
}

void DataFolderIndex::lookAtFolder()
{
    if (!m_folder)
        return;
    std::error_code error;
    for (std::filesystem::directory_iterator it(*m_folder, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".app" && !it->path().filename().string().starts_with('.'))
            m_bundles.insert(AppBundle::resolvedLocation(it->path()));
}

} // namespace korvel
