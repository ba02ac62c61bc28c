#include "app/platform/linux/LinuxPasteboard.hpp"

#include <QClipboard>
#include <QGuiApplication>

namespace korvel {

void LinuxPasteboard::setText(const std::string& text)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

} // namespace korvel
