#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace korvel::test {

// A fresh folder under the system's temporary folder, removed (with everything in it) on destruction.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return m_path / relative; }

private:
    std::filesystem::path m_path;
};

// Small file helpers for tests. writeText and writeExecutable create missing parent folders.
void writeText(const std::filesystem::path& file, std::string_view text);
std::filesystem::path writeExecutable(const std::filesystem::path& file, std::string_view text); // mode 0755
std::string readText(const std::filesystem::path& file);
// Permission bits, e.g. 0700; of a link itself, not its target.
inline unsigned modeOf(const std::filesystem::path& path)
{
    return static_cast<unsigned>(std::filesystem::symlink_status(path).permissions() & std::filesystem::perms::mask);
}

// Every entry below `root` (not root itself) by relative path: type and mode, modification time, extended
// attributes, then the link text or the file's content. Equal descriptions mean an exact copy.
std::map<std::string, std::string> describeTree(const std::filesystem::path& root);

} // namespace korvel::test
