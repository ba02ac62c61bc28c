#include "tests/support/TempDir.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace korvel::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korvel-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = std::filesystem::canonical(name.data());
}

TempDir::~TempDir()
{
    std::error_code error;
    // Tests make read-only folders on purpose; open them up again so that everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(m_path.c_str(), 0700);
    std::filesystem::remove_all(m_path, error);
}

void writeText(const std::filesystem::path& file, std::string_view text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

unsigned modeOf(const std::filesystem::path& path)
{
    struct stat info
    { };
    if (::lstat(path.c_str(), &info) != 0)
        throw std::runtime_error("cannot stat " + path.string());
    return info.st_mode & 07777;
}

} // namespace korvel::test
