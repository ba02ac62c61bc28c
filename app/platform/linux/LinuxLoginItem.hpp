#pragma once

#include "app/platform/LoginItem.hpp"

#include <filesystem>

namespace korvel {

// Korvel's XDG autostart entry, $XDG_CONFIG_HOME/autostart/korvel.desktop, which session managers start at
// login. Enabled while the entry exists and is not Hidden=true. Main thread only.
class LinuxLoginItem : public LoginItem
{
public:
    static std::filesystem::path defaultEntry();

    // `executable` is what the entry starts: Korvel.app/Contents/MacOS/Korvel.
    explicit LinuxLoginItem(std::filesystem::path executable, std::filesystem::path entry = defaultEntry());

    bool isEnabled() const override;
    // Writes the entry; throws FileError.
    void enable() override;
    // Removes the entry; throws FileError.
    void disable() override;

private:
    std::filesystem::path m_executable;
    std::filesystem::path m_entry;
};

} // namespace korvel
