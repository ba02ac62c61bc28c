#pragma once

#include <qcoro/qcorotask.h>

#include <filesystem>

namespace korvel {

// The user's trash. Main thread only.
class Trash
{
public:
    virtual ~Trash() = default;

    // Moves `item` to the trash; completes on the main thread and throws std::exception with the reason on failure.
    virtual QCoro::Task<> moveToTrash(std::filesystem::path item) = 0;
};

} // namespace korvel
