#include "app/platform/fake/FakeUserDefaults.hpp"

namespace korvel {

bool FakeUserDefaults::boolForKey(const std::string& key) const
{
    if (const auto it = stored.find(key); it != stored.end())
        return it->second;
    const auto it = registered.find(key);
    return it != registered.end() && it->second;
}

void FakeUserDefaults::setBool(const std::string& key, bool value)
{
    stored[key] = value;
    writes.emplace_back(key, value);
}

std::optional<std::string> FakeUserDefaults::stringForKey(const std::string& key) const
{
    const auto it = strings.find(key);
    return it != strings.end() ? std::optional<std::string>(it->second) : std::nullopt;
}

} // namespace korvel
