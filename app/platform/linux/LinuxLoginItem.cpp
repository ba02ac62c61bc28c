#include "app/platform/linux/LinuxLoginItem.hpp"

#include "core/support/DesktopEntry.hpp"
#include "core/support/FileError.hpp"
#include "core/support/XdgFolders.hpp"

#include <cerrno>
#include <unistd.h>

namespace korvel {

std::filesystem::path LinuxLoginItem::defaultEntry()
{
    return XdgFolders::configHome() / "autostart" / "korvel.desktop";
}

LinuxLoginItem::LinuxLoginItem(std::filesystem::path executable, std::filesystem::path entry)
    : m_executable(std::move(executable))
    , m_entry(std::move(entry))
{ }

bool LinuxLoginItem::isEnabled() const
{
    try {
        return DesktopEntry::read(m_entry).value("Hidden") != "true";
    } catch (const FileError&) {
        return false;
    }
}

void LinuxLoginItem::enable()
{
    DesktopEntry entry;
    entry.set("Type", "Application");
    entry.set("Name", "Korvel");
    entry.set("Exec", DesktopEntry::execLine({m_executable.string()}));
    entry.set("Terminal", "false");
    entry.set("X-GNOME-Autostart-enabled", "true");
    entry.write(m_entry);
}

void LinuxLoginItem::disable()
{
    if (::unlink(m_entry.c_str()) != 0 && errno != ENOENT)
        FileError::throwWrite(m_entry, errno);
}

} // namespace korvel
