#pragma once

#include "app/platform/FileViewer.hpp"

#include <QObject>

namespace korvel {

// Reveals items through the file manager's D-Bus interface (org.freedesktop.FileManager1.ShowItems); when no
// file manager answers, opens the item's folder with xdg-open. Main thread only.
class LinuxFileViewer : public QObject, public FileViewer
{
    Q_OBJECT

public:
    using QObject::QObject;

    void reveal(const std::filesystem::path& item) override;

    // The fallback on its own: xdg-open on the folder that holds `item`.
    static void openFolderOf(const std::filesystem::path& item);
};

} // namespace korvel
