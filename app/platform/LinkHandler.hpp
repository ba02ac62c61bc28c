#pragma once

#include <qcoro/qcorotask.h>

#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// Which application the system gives links of a URL scheme to. Main thread only.
class LinkHandler
{
public:
    virtual ~LinkHandler() = default;

    // The bundle of the application that would open `url`, or nothing when no application would.
    virtual std::optional<std::filesystem::path> applicationToOpen(const std::string& url) const = 0;
    // Makes `application` the default handler of `scheme`; completes on the main thread and throws
    // std::exception with the reason when the system refuses.
    virtual QCoro::Task<> setDefaultApplication(std::filesystem::path application, std::string scheme) = 0;
};

} // namespace korvel
