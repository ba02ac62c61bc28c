#include "app/ui/PathText.hpp"

#include <QDir>

namespace korvel {

QString PathText::abbreviatingWithTilde(const std::filesystem::path& path, const std::filesystem::path& home)
{
    const QString text = QString::fromStdString(path.lexically_normal().string());
    QString prefix = QString::fromStdString(home.lexically_normal().string());
    while (prefix.size() > 1 && prefix.endsWith('/'))
        prefix.chop(1);
    if (prefix.isEmpty() || prefix == "/")
        return text;
    if (text == prefix)
        return "~";
    if (text.startsWith(prefix + '/'))
        return "~" + text.mid(prefix.size());
    return text;
}

QString PathText::abbreviatingWithTilde(const std::filesystem::path& path)
{
    return abbreviatingWithTilde(path, QDir::homePath().toStdString());
}

} // namespace korvel
