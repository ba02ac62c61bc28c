#pragma once

#include <filesystem>

namespace korvel {

// The desktop's file manager. Main thread only.
class FileViewer
{
public:
    virtual ~FileViewer() = default;

    // Shows `item` selected in a file manager window; failures are not reported.
    virtual void reveal(const std::filesystem::path& item) = 0;
};

} // namespace korvel
