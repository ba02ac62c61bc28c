#include "app/platform/linux/LinuxUserDefaults.hpp"

#include "core/support/XdgFolders.hpp"

namespace korvel {

std::filesystem::path LinuxUserDefaults::defaultFile()
{
    return XdgFolders::configHome() / "Korvel" / "Korvel.conf";
}

LinuxUserDefaults::LinuxUserDefaults(const std::filesystem::path& file)
    : m_settings(QString::fromStdString(file.string()), QSettings::IniFormat)
{ }

void LinuxUserDefaults::registerDefault(const std::string& key, bool value)
{
    m_defaults[key] = value;
}

bool LinuxUserDefaults::boolForKey(const std::string& key) const
{
    const QString name = QString::fromStdString(key);
    if (m_settings.contains(name))
        return m_settings.value(name).toBool();
    const auto registered = m_defaults.find(key);
    return registered != m_defaults.end() && registered->second;
}

void LinuxUserDefaults::setBool(const std::string& key, bool value)
{
    m_settings.setValue(QString::fromStdString(key), value);
    m_settings.sync();
}

std::optional<std::string> LinuxUserDefaults::stringForKey(const std::string& key) const
{
    const QVariant value = m_settings.value(QString::fromStdString(key));
    if (!value.isValid())
        return std::nullopt;
    return value.toString().toStdString();
}

void LinuxUserDefaults::setString(const std::string& key, const std::string& value)
{
    m_settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    m_settings.sync();
}

} // namespace korvel
