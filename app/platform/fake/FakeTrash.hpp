#pragma once

#include "app/platform/Trash.hpp"

#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Records what is put in the trash and removes it from the disk; can be told to fail.
class FakeTrash : public Trash
{
public:
    std::optional<std::string> failure; // moveToTrash throws this description and leaves the item
    std::vector<std::filesystem::path> trashed;

    QCoro::Task<> moveToTrash(std::filesystem::path item) override;
};

} // namespace korvel
