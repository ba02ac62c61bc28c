#pragma once

#include "app/platform/GlobalShortcut.hpp"

namespace korvel {

// The desktop's global shortcuts. Without a way to grab keys it says so and binds nothing.
class LinuxGlobalShortcut : public GlobalShortcut
{
public:
    bool isAvailable() const override;
    QCoro::Task<> bind(std::string keys) override;
    void setActivationHandler(std::function<void()> handler) override;

private:
    std::function<void()> m_handler;
};

} // namespace korvel
