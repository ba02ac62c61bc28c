#pragma once

#include "app/platform/GlobalShortcut.hpp"

#include <optional>
#include <stdexcept>

namespace korvel {

// A global shortcut in memory: press() plays the user pressing it; `failure` makes bind() fail.
class FakeGlobalShortcut : public GlobalShortcut
{
public:
    bool available = true;
    std::string bound;
    std::optional<std::string> failure;
    int bindCalls = 0;

    bool isAvailable() const override { return available; }
    QCoro::Task<> bind(std::string keys) override
    {
        ++bindCalls;
        bound.clear();
        if (failure)
            throw std::runtime_error(*failure);
        bound = std::move(keys);
        co_return;
    }
    void setActivationHandler(std::function<void()> handler) override { m_handler = std::move(handler); }
    void press() const
    {
        if (m_handler && !bound.empty())
            m_handler();
    }

private:
    std::function<void()> m_handler;
};

} // namespace korvel
