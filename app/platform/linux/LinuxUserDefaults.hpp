#pragma once

#include "app/platform/UserDefaults.hpp"

#include <QSettings>

#include <filesystem>
#include <map>

namespace korvel {

// Korvel's settings in an INI file, $XDG_CONFIG_HOME/Korvel/Korvel.conf by default; registered defaults live
// in memory only. Main thread only.
class LinuxUserDefaults : public UserDefaults
{
public:
    static std::filesystem::path defaultFile();

    explicit LinuxUserDefaults(const std::filesystem::path& file = defaultFile());

    void registerDefault(const std::string& key, bool value) override;
    bool boolForKey(const std::string& key) const override;
    // Written to the file at once.
    void setBool(const std::string& key, bool value) override;
    std::optional<std::string> stringForKey(const std::string& key) const override;
    // Written to the file at once.
    void setString(const std::string& key, const std::string& value) override;

private:
    mutable QSettings m_settings;
    std::map<std::string, bool> m_defaults;
};

} // namespace korvel
