#pragma once

#include <string>

namespace korvel {

// The general clipboard. Main thread only.
class Pasteboard
{
public:
    virtual ~Pasteboard() = default;

    // Replaces whatever the clipboard holds with `text` as plain text.
    virtual void setText(const std::string& text) = 0;
};

} // namespace korvel
