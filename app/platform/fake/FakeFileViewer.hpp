#pragma once

#include "app/platform/FileViewer.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvel {

// Records what was revealed, or fails with `failure`.
class FakeFileViewer : public FileViewer
{
public:
    std::vector<std::filesystem::path> revealed;
    std::optional<std::string> failure;

    void reveal(const std::filesystem::path& item) override
    {
        if (failure)
            throw std::runtime_error(*failure);
        revealed.push_back(item);
    }
};

} // namespace korvel
