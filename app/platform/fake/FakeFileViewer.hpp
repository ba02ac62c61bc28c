#pragma once

#include "app/platform/FileViewer.hpp"

#include <vector>

namespace korvel {

// Records what was revealed.
class FakeFileViewer : public FileViewer
{
public:
    std::vector<std::filesystem::path> revealed;

    void reveal(const std::filesystem::path& item) override { revealed.push_back(item); }
};

} // namespace korvel
