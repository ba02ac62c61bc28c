#pragma once

#include "app/platform/Pasteboard.hpp"

namespace korvel {

// The clipboard of the Qt GUI application; does nothing without one. Main thread only.
class LinuxPasteboard : public Pasteboard
{
public:
    void setText(const std::string& text) override;
};

} // namespace korvel
