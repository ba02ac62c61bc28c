#pragma once

#include "app/platform/Pasteboard.hpp"

namespace korvel {

// A clipboard in memory.
class FakePasteboard : public Pasteboard
{
public:
    std::string text;
    int writes = 0;

    void setText(const std::string& newText) override
    {
        text = newText;
        ++writes;
    }
};

} // namespace korvel
