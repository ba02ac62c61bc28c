#pragma once

#include "app/platform/LinkHandler.hpp"

#include <map>
#include <vector>

namespace korvel {

// Default handlers per URL scheme, in memory; the system's refusal can be played.
class FakeLinkHandler : public LinkHandler
{
public:
    std::map<std::string, std::filesystem::path> handlers; // scheme → application bundle
    std::optional<std::string> refusal; // setDefaultApplication throws this description and changes nothing

    struct Request
    {
        std::filesystem::path application;
        std::string scheme;
    };
    std::vector<Request> requests; // every setDefaultApplication, refused or not

    std::optional<std::filesystem::path> applicationToOpen(const std::string& url) const override;
    QCoro::Task<> setDefaultApplication(std::filesystem::path application, std::string scheme) override;
};

} // namespace korvel
