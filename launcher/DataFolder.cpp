#include "launcher/DataFolder.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace korvel::launcher::DataFolder {

namespace {

bool isFolder(const std::string& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// One component: made here (then chmod, since mkdir's mode is filtered by the umask) or already a folder.
// Something else in the way is "not a directory" for a parent and "file exists" for the folder itself.
int createOne(const std::string& path, bool last)
{
    if (::mkdir(path.c_str(), 0700) == 0)
        return ::chmod(path.c_str(), 0700) == 0 ? 0 : errno;
    const int error = errno;
    if (error == EEXIST && isFolder(path))
        return 0;
    if (error == EEXIST && !last)
        return ENOTDIR;
    return error;
}

} // namespace

int create(const std::string& path)
{
    // Every start after the first finds the folder in place.
    if (isFolder(path))
        return 0;
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        // Repeated or trailing slashes name no new component.
        if (!prefix.empty() && prefix.back() != '/') {
            if (const int error = createOne(prefix, end == std::string::npos))
                return error;
        }
        if (end == std::string::npos)
            return 0;
    }
}

} // namespace korvel::launcher::DataFolder
