#pragma once

#include <filesystem>
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

// Small file helpers for tests.
void writeText(const std::filesystem::path& file, std::string_view text);
std::string readText(const std::filesystem::path& file);
unsigned modeOf(const std::filesystem::path& path); // permission bits, e.g. 0700

} // namespace korvel::test
