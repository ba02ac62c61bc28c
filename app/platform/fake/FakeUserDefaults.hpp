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

    void registerDefault(const std::string& key, bool value) override { registered[key] = value; }
    bool boolForKey(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;
};

} // namespace korvel
