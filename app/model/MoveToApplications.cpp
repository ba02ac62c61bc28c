#include "app/model/MoveToApplications.hpp"

#include <string>

namespace korvel {

bool MoveToApplications::isInApplications(const std::filesystem::path& bundle, const std::filesystem::path& home)
{
    const std::string path = bundle.string();
    std::string homeText = home.lexically_normal().string();
    while (homeText.size() > 1 && homeText.back() == '/')
        homeText.pop_back();
    return path.starts_with("/Applications/") || (!homeText.empty() && path.starts_with(homeText + "/Applications/"));
}

} // namespace korvel
