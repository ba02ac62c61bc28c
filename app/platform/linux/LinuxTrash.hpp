#pragma once

#include "app/platform/Trash.hpp"

namespace korvel {

// The FreeDesktop trash ($XDG_DATA_HOME/Trash/files with an info/*.trashinfo record, or the trash of the
// item's own volume), through Qt. Main thread only.
class LinuxTrash : public Trash
{
public:
    // Throws FileError when `item` does not exist, std::runtime_error naming the item and Qt's reason when it
    // cannot be moved.
    QCoro::Task<> moveToTrash(std::filesystem::path item) override;
};

} // namespace korvel
