#include "core/transfer/SessionImporter.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/model/Uuid.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/Folders.hpp"
#include "core/support/JsonWriter.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace korvel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Ledger
{
    std::set<std::string> files;
    std::set<std::string> pins;
};

struct Candidate
{
    std::string key;
    fs::path source;
    fs::path destination;
};

bool isSessionFile(std::string_view name)
{
    return name.starts_with(ClaudeDesktop::sessionFilePrefix) && name.ends_with(ClaudeDesktop::sessionFileSuffix);
}

std::string sessionID(std::string_view name)
{
    name.remove_suffix(ClaudeDesktop::sessionFileSuffix.size());
    return std::string(name);
}

std::string fileName(const std::string& relativePath)
{
    const size_t slash = relativePath.rfind('/');
    return slash == std::string::npos ? relativePath : relativePath.substr(slash + 1);
}

// An lstat: a dangling link at the destination is something there too, never written through.
bool somethingAt(const fs::path& path)
{
    struct stat info
    { };
    return ::lstat(path.c_str(), &info) == 0;
}

// ---- Ledger ----

std::optional<std::set<std::string>> stringSet(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array())
        return std::nullopt;
    std::set<std::string> strings;
    for (const json& element : *it) {
        if (!element.is_string())
            return std::nullopt;
        strings.insert(element.get<std::string>());
    }
    return strings;
}

// Anything unreadable or not in the ledger's shape is an empty ledger: the worst outcome is that a run
// records again what is already in the destination.
Ledger loadLedger(const fs::path& file)
{
    try {
        const json root = json::parse(AtomicFile::read(file), nullptr, false);
        if (!root.is_object())
            return {};
        auto files = stringSet(root, "files");
        auto pins = stringSet(root, "pins");
        if (!files || !pins)
            return {};
        return Ledger {std::move(*files), std::move(*pins)};
    } catch (const FileError&) {
        return {};
    }
}

void saveLedger(const Ledger& ledger, const fs::path& file)
{
    // The ledger lives in the profile's own folder.
    Folders::createPrivate(file.parent_path());
    JsonWriter::writeFile(json {{"files", ledger.files}, {"pins", ledger.pins}}, file);
}

// ---- Listing ----

// Appends the regular files below `folder` as paths relative to `root`. Links are never followed; each
// folder is resolved on its own, so nothing reached through a link swapped in meanwhile gets in.
void collectFiles(const fs::path& folder, const std::string& root, std::vector<std::string>& out)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(folder, error);
    if (error)
        return;
    const std::string& text = resolved.native();
    std::string prefix;
    if (text != root) {
        if (!text.starts_with(root) || (root != "/" && text[root.size()] != '/'))
            return;
        prefix = text.substr(root == "/" ? 1 : root.size() + 1) + "/";
    }
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        const fs::file_type type = it->symlink_status(typeError).type();
        if (typeError)
            continue;
        if (type == fs::file_type::regular)
            out.push_back(prefix + it->path().filename().native());
        else if (type == fs::file_type::directory)
            collectFiles(it->path(), root, out);
    }
}

// The regular files below `folder`, relative to it, sorted. A missing folder has none.
std::vector<std::string> files(const fs::path& folder)
{
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    if (error)
        return {};
    std::vector<std::string> out;
    collectFiles(folder, root.native(), out);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Candidate> candidates(const fs::path& from, const fs::path& to)
{
    const std::set<std::string> accounts = SessionImporter::accounts(to);
    std::vector<Candidate> result;
    for (const std::string& folder : SessionImporter::sessionFolders()) {
        for (const std::string& account : accounts) {
            const fs::path source = from / folder / account;
            const fs::path destination = to / folder / account;
            for (const std::string& relative : files(source))
                result.push_back({folder + "/" + account + "/" + relative, source / relative, destination / relative});
        }
    }
    return result;
}

std::set<std::string> sessionIDs(const fs::path& dataFolder)
{
    std::set<std::string> ids;
    for (const std::string& account : SessionImporter::accounts(dataFolder)) {
        for (const std::string& folder : SessionImporter::sessionFolders()) {
            for (const std::string& relative : files(dataFolder / folder / account)) {
                const std::string name = fileName(relative);
                if (isSessionFile(name))
                    ids.insert(sessionID(name));
            }
        }
    }
    return ids;
}

// ---- Copying ----

[[noreturn]] void throwCopy(const fs::path& destination, const std::error_code& error)
{
    if (error == std::errc::file_exists)
        throw FileError(FileError::Kind::WriteFileExists, destination, EEXIST);
    FileError::throwWrite(destination, error.value());
}

// A new file with the source's data, mode and times; never replaces anything at `destination`.
void copyFile(const fs::path& source, const fs::path& destination)
{
    struct stat info
    { };
    if (::stat(source.c_str(), &info) != 0)
        FileError::throwRead(source, errno);
    std::error_code error;
    fs::copy_file(source, destination, fs::copy_options::none, error);
    if (error)
        throwCopy(destination, error);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        FileError::throwWrite(destination, errno);
}

// ---- Configuration ----

json readConfig(const fs::path& file)
{
    std::error_code error;
    if (!fs::exists(file, error)) {
        if (error)
            FileError::throwRead(file, error.value());
        return json::object();
    }
    json config = json::parse(AtomicFile::read(file), nullptr, false);
    if (config.is_discarded())
        throw FileError(FileError::Kind::ReadCorrupt, file, 0, "it is not valid JSON");
    if (!config.is_object())
        throw FileError(FileError::Kind::ReadCorrupt, file, 0, "the top level is not an object");
    return config;
}

json readConfigOrEmpty(const fs::path& file)
{
    try {
        return readConfig(file);
    } catch (const FileError&) {
        return json::object();
    }
}

const json* member(const json& object, std::string_view key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::vector<std::string> pins(const json& config)
{
    const json* preferences = member(config, ClaudeDesktop::pinsKeyPath[0]);
    const json* epitaxy = preferences ? member(*preferences, ClaudeDesktop::pinsKeyPath[1]) : nullptr;
    const json* starred = epitaxy ? member(*epitaxy, ClaudeDesktop::pinsKeyPath[2]) : nullptr;
    if (!starred || !starred->is_array())
        return {};
    std::vector<std::string> result;
    for (const json& element : *starred) {
        if (!element.is_string())
            return {};
        result.push_back(element.get<std::string>());
    }
    return result;
}

// The object at `key` of `parent`, replaced by an empty one when it is missing or something else.
json& objectAt(json& parent, std::string_view key)
{
    json& value = parent[std::string(key)];
    if (!value.is_object())
        value = json::object();
    return value;
}

// Appends the pins not yet starred; returns how many were appended. Every other key keeps its value.
int64_t appendPins(json& config, const std::vector<std::string>& newPins)
{
    json& epitaxy = objectAt(objectAt(config, ClaudeDesktop::pinsKeyPath[0]), ClaudeDesktop::pinsKeyPath[1]);
    json& starred = epitaxy[std::string(ClaudeDesktop::pinsKeyPath[2])];
    std::vector<std::string> list = pins(config);
    int64_t appended = 0;
    for (const std::string& pin : newPins) {
        if (std::find(list.begin(), list.end(), pin) != list.end())
            continue;
        list.push_back(pin);
        ++appended;
    }
    starred = list;
    return appended;
}

// Source pins not yet considered for this destination whose session the destination has.
std::vector<std::string> newPins(const fs::path& from, const fs::path& to, const Ledger& ledger)
{
    std::vector<std::string> pending;
    for (const std::string& pin : pins(readConfigOrEmpty(from / ClaudeDesktop::configFile))) {
        if (!ledger.pins.contains(pin))
            pending.push_back(pin);
    }
    if (pending.empty())
        return {};
    const std::set<std::string> sessions = sessionIDs(to);
    std::erase_if(pending, [&](const std::string& pin) { return !sessions.contains(pin); });
    return pending;
}

} // namespace

const std::vector<std::string>& SessionImporter::sessionFolders()
{
    static const std::vector<std::string> folders(
        ClaudeDesktop::sessionFolders.begin(), ClaudeDesktop::sessionFolders.end());
    return folders;
}

std::set<std::string> SessionImporter::accounts(const fs::path& folder)
{
    std::set<std::string> result;
    for (const std::string& name : sessionFolders()) {
        std::error_code error;
        fs::directory_iterator it(folder / name, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            std::string entry = it->path().filename().native();
            if (Uuid::parse(entry))
                result.insert(std::move(entry));
        }
    }
    return result;
}

SessionImporter::Summary SessionImporter::summary(const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    const Ledger ledger = loadLedger(ledgerURL);
    Summary counts;
    for (const Candidate& candidate : candidates(from, to)) {
        if (ledger.files.contains(candidate.key) || somethingAt(candidate.destination))
            continue;
        ++counts.missingFiles;
        if (isSessionFile(candidate.destination.filename().native()))
            ++counts.missingSessions;
    }
    return counts;
}

SessionImporter::Summary SessionImporter::importSessions(
    const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    Ledger ledger = loadLedger(ledgerURL);
    const std::vector<Candidate> all = candidates(from, to);
    Summary copied;
    bool handledAny = false;
    for (const Candidate& candidate : all) {
        if (ledger.files.contains(candidate.key))
            continue;
        if (!somethingAt(candidate.destination)) {
            Folders::createPrivate(candidate.destination.parent_path());
            copyFile(candidate.source, candidate.destination);
            ++copied.missingFiles;
            if (isSessionFile(candidate.destination.filename().native()))
                ++copied.missingSessions;
        }
        ledger.files.insert(candidate.key);
        handledAny = true;
    }
    if (handledAny)
        saveLedger(ledger, ledgerURL);
    return copied;
}

std::vector<std::string> SessionImporter::pinsToMerge(
    const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    const Ledger ledger = loadLedger(ledgerURL);
    std::vector<std::string> result = newPins(from, to, ledger);
    if (result.empty())
        return result;
    const std::vector<std::string> starred = pins(readConfigOrEmpty(to / ClaudeDesktop::configFile));
    const std::set<std::string> present(starred.begin(), starred.end());
    std::erase_if(result, [&](const std::string& pin) { return present.contains(pin); });
    return result;
}

int64_t SessionImporter::mergePins(const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    Ledger ledger = loadLedger(ledgerURL);
    const std::vector<std::string> pending = newPins(from, to, ledger);
    if (pending.empty())
        return 0;
    const fs::path configFile = to / ClaudeDesktop::configFile;
    json config = readConfig(configFile);
    const int64_t appended = appendPins(config, pending);
    if (appended > 0)
        JsonWriter::writeFile(config, configFile);
    ledger.pins.insert(pending.begin(), pending.end());
    saveLedger(ledger, ledgerURL);
    return appended;
}

} // namespace korvel
