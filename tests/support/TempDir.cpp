#include "tests/support/TempDir.hpp"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace korvel::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "korvel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = fs::canonical(pattern);
}

TempDir::~TempDir()
{
    std::error_code error;
    // Tests make read-only folders on purpose; open them up again so that everything can go.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(m_path.c_str(), 0700);
    fs::remove_all(m_path, error);
}

void writeText(const fs::path& file, std::string_view text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

fs::path writeExecutable(const fs::path& file, std::string_view text)
{
    writeText(file, text);
    fs::permissions(file, fs::perms(0755));
    return file;
}

std::string readText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::map<std::string, std::string> describeTree(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const char* path = entry.path().c_str();
        struct stat info
        { };
        ::lstat(path, &info);
        std::string text = std::to_string(info.st_mode) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
            std::to_string(info.st_mtim.tv_nsec);
        char names[4096], value[4096];
        std::map<std::string, std::string> attributes; // sorted: the file system lists them in any order
        const ssize_t size = ::llistxattr(path, names, sizeof names);
        for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
            const ssize_t length = ::lgetxattr(path, names + at, value, sizeof value);
            attributes[names + at] = std::string(value, length > 0 ? size_t(length) : 0);
        }
        for (const auto& [name, content] : attributes)
            text += " " + name + "=" + content;
        if (S_ISLNK(info.st_mode))
            text += " -> " + fs::read_symlink(entry.path()).string();
        else if (S_ISREG(info.st_mode))
            text += " = " + readText(entry.path());
        tree[entry.path().lexically_relative(root).string()] = text;
    }
    return tree;
}

} // namespace korvel::test
