#pragma once

#include "app/platform/UserDefaults.hpp"

#include <map>
#include <utility>
#include <vector>

namespace korvel {

// Settings in memory. Keep one instance across two models to play a restart; registered defaults are not
// stored, as with the real store.
class FakeUserDefaults : public UserDefaults
{
public:
    std::map<std::string, bool> stored;
    std::map<std::string, bool> registered;
    std::vector<std::pair<std::string, bool>> writes; // every setBool, in order
    std::map<std::string, std::string> strings;

    void registerDefault(const std::string& key, bool value) override { registered[key] = value; }
    bool boolForKey(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;
    std::optional<std::string> stringForKey(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override { strings[key] = value; }
};

} // namespace korvel
