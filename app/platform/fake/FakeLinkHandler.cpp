#include "app/platform/fake/FakeLinkHandler.hpp"

#include <stdexcept>

namespace korvel {

std::optional<std::filesystem::path> FakeLinkHandler::applicationToOpen(const std::string& url) const
{
    const auto colon = url.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto it = handlers.find(url.substr(0, colon));
    return it == handlers.end() ? std::nullopt : std::optional<std::filesystem::path>(it->second);
}

QCoro::Task<> FakeLinkHandler::setDefaultApplication(std::filesystem::path application, std::string scheme)
{
    requests.push_back({application, scheme});
    if (refusal)
        throw std::runtime_error(*refusal);
    handlers[scheme] = application;
    co_return;
}

} // namespace korvel
