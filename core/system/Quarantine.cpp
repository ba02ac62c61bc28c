#include "core/system/Quarantine.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/xattr.h>

namespace korvel {
namespace {

void removeFrom(const std::filesystem::path& path, bool link, std::vector<std::string>& failures)
{
    if (::lremovexattr(path.c_str(), Quarantine::attribute) == 0)
        return;
    // No attribute, a file system without extended attributes, or a link (which can hold no user.*
    // attribute): nothing to remove.
    if (errno == ENODATA || errno == ENOTSUP || (link && errno == EPERM))
        return;
    failures.push_back(path.string() + ": " + std::strerror(errno));
}

} // namespace

std::vector<std::string> Quarantine::removeRecursively(const std::filesystem::path& root)
{
    std::vector<std::string> failures;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(root, error);
    if (!std::filesystem::exists(status)) {
        failures.push_back("No such file: " + root.string());
        return failures;
    }
    removeFrom(root, std::filesystem::is_symlink(status), failures);
    if (!std::filesystem::is_directory(status))
        return failures;
    std::filesystem::recursive_directory_iterator it(root, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        removeFrom(it->path(), it->is_symlink(error), failures);
    if (error)
        failures.push_back(root.string() + ": " + error.message());
    return failures;
}

int Quarantine::main(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 3 || arguments[0] != "-dr" || arguments[1] != "com.apple.quarantine") {
        std::cerr << "usage: xattr -dr com.apple.quarantine PATH\n";
        return 2;
    }
    const std::vector<std::string> failures = removeRecursively(arguments[2]);
    for (const std::string& failure : failures)
        std::cerr << "xattr: " << failure << "\n";
    return failures.empty() ? 0 : 1;
}

} // namespace korvel
