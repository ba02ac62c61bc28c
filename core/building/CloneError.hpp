#pragma once

#include <filesystem>
#include <stdexcept>

namespace korvel {

// The builder's two precondition failures; what() is the message the user sees.
class CloneError : public std::runtime_error
{
public:
    enum class Kind { SourceMissing, LauncherMissing };

    static CloneError sourceMissing(const std::filesystem::path& sourceApp);
    static CloneError launcherMissing(const std::filesystem::path& launcher);

    Kind kind() const { return m_kind; }
    const std::filesystem::path& path() const { return m_path; }
    std::string description() const { return what(); }

private:
    CloneError(Kind kind, std::filesystem::path path, const std::string& message);

    Kind m_kind;
    std::filesystem::path m_path;
};

} // namespace korvel
