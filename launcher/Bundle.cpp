#include "launcher/Bundle.hpp"

#include "core/building/InfoPlistKeys.hpp"
#include "core/building/PlistScreening.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel::launcher::Bundle {

namespace {

std::string parentOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole file, or nothing when it cannot be read (a named pipe is not waited on).
std::optional<std::string> readFile(const std::string& path)
{
    try {
        return AtomicFile::read(path);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

struct PlistFree
{
    void operator()(plist_t node) const { plist_free(node); }
};

// The string entry `key` of a dictionary, pointing into it.
std::optional<std::string_view> stringEntry(plist_t dictionary, std::string_view key)
{
    const plist_t value = plist_dict_get_item(dictionary, std::string(key).c_str());
    if (!value || plist_get_node_type(value) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(value, &length);
    if (!text)
        return std::nullopt;
    return std::string_view(text, length);
}

} // namespace

std::string runningExecutable()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<size_t>(length));
}

std::string containing(const std::string& executable)
{
    const std::string folder = parentOf(executable);
    const std::string contents = parentOf(folder);
    if (nameOf(folder) == "MacOS" && nameOf(contents) == "Contents")
        return parentOf(contents);
    return folder;
}

bool isApp(const std::string& bundle)
{
    // Like a path extension: the part after the last dot of a name that does not start with that dot.
    const std::string name = nameOf(bundle);
    const auto dot = name.rfind('.');
    return dot != std::string::npos && dot != 0 && name.compare(dot + 1, std::string::npos, "app") == 0;
}

Info info(const std::string& bundle)
{
    Info info;
    const auto bytes = readFile(bundle + "/Contents/Info.plist");
    // libplist recurses through its tree, and asserts on keys that are not plain text.
    if (!bytes || bytes->empty() || bytes->size() > UINT32_MAX || PlistScreening::problem(*bytes))
        return info;
    plist_t parsed = nullptr;
    plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &parsed);
    const std::unique_ptr<void, PlistFree> root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return info;
    const auto dataDir = stringEntry(root.get(), ProfileBundleKeys::userDataDir);
    if (dataDir && !dataDir->empty() && dataDir->front() == '/' && dataDir->find('\0') == std::string_view::npos)
        info.dataDir = std::string(*dataDir);
    info.bundleIdentifier = stringEntry(root.get(), InfoPlistKeys::bundleIdentifier).value_or("");
    if (const auto identity = stringEntry(root.get(), ProfileBundleKeys::taskBarIdentity))
        info.taskBarIdentity = TaskBarIdentities::fromRawValue(*identity).value_or(TaskBarIdentity::Native);
    return info;
}

std::string claudeExecutable(const std::string& bundle)
{
    return bundle + "/Contents/MacOS/" + std::string(ClaudeDesktop::executableName);
}

bool isExecutableFile(const std::string& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace korvel::launcher::Bundle
