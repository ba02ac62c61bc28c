#pragma once

#include <filesystem>

namespace korvel {

// The desktop's file manager. Main thread only.
class FileViewer
{
public:
    virtual ~FileViewer() = default;

    // Shows `item` selected in a file manager window. Throws std::runtime_error, saying why, when the desktop has
    // nothing that shows folders; a file manager's own trouble later is its to report.
    virtual void reveal(const std::filesystem::path& item) = 0;
};

} // namespace korvel
