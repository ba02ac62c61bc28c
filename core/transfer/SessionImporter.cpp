#include "core/transfer/SessionImporter.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/model/Uuid.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/Directories.hpp"
#include "core/support/FileCopyBatch.hpp"
#include "core/support/FileError.hpp"
#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"
#include "core/support/UnicodeText.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace korvel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Hashed rather than ordered: a sync round looks up thousands of long keys that share their beginnings.
using StringSet = std::unordered_set<std::string>;

struct Ledger
{
    StringSet files;
    StringSet pins;
    StringSet mcpServers;
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

std::optional<StringSet> stringSet(json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array())
        return std::nullopt;
    StringSet strings(it->size());
    for (json& element : *it) {
        if (!element.is_string())
            return std::nullopt;
        strings.insert(std::move(element.get_ref<std::string&>()));
    }
    return strings;
}

json sorted(const StringSet& strings)
{
    std::vector<std::string> list(strings.begin(), strings.end());
    std::sort(list.begin(), list.end());
    return list;
}

// Anything unreadable or not in the ledger's shape is an empty ledger: the worst outcome is that a run
// records again what is already in the destination.
Ledger loadLedger(const fs::path& file)
{
    try {
        json root = JsonText::parse(AtomicFile::read(file));
        if (!root.is_object())
            return {};
        auto files = stringSet(root, "files");
        auto pins = stringSet(root, "pins");
        // Ledgers written before MCP servers were brought over have none.
        auto mcpServers = root.contains("mcpServers") ? stringSet(root, "mcpServers") : StringSet();
        if (!files || !pins || !mcpServers)
            return {};
        return Ledger {std::move(*files), std::move(*pins), std::move(*mcpServers)};
    } catch (const FileError&) {
        return {};
    }
}

void saveLedger(const Ledger& ledger, const fs::path& file)
{
    // The ledger lives in the profile's own folder.
    Directories::create(file.parent_path(), 0700);
    json root {{"files", sorted(ledger.files)}, {"pins", sorted(ledger.pins)}};
    if (!ledger.mcpServers.empty())
        root["mcpServers"] = sorted(ledger.mcpServers);
    JsonWriter::writeFile(root, file);
}

// ---- Listing ----

struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// The entry's own type (links not followed); an lstat only where the file system leaves d_type out.
unsigned char entryType(DIR* directory, const dirent& entry)
{
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type;
    struct stat info
    { };
    if (::fstatat(::dirfd(directory), entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
}

// Appends the regular files below the open folder `fd` (which it closes), each as `prefix` + its path.
// Sub-folders are opened relative to their parent and never through a link, so that everything found
// lies inside the folder where the walk began, even if a link is swapped in meanwhile.
void collectFiles(int fd, const std::string& prefix, std::vector<std::string>& out)
{
    const std::unique_ptr<DIR, DirectoryCloser> directory(::fdopendir(fd));
    if (!directory) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const unsigned char type = entryType(directory.get(), *entry);
        if (type == DT_REG) {
            out.push_back(prefix + entry->d_name);
        } else if (type == DT_DIR) {
            const int child =
                ::openat(::dirfd(directory.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                collectFiles(child, prefix + entry->d_name + "/", out);
        }
    }
}

// The regular files below `folder`, relative to it, sorted. A missing folder has none.
std::vector<std::string> files(const fs::path& folder)
{
    std::vector<std::string> out;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        collectFiles(fd, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

// The files of one account folder of the source that could be imported; a file's key is keyPrefix and its
// relative path.
struct AccountFiles
{
    std::string keyPrefix;
    fs::path source;
    fs::path destination;
    std::vector<std::string> relativePaths;
};

bool isUtf8(const std::string& text)
{
    return UnicodeText::replacingInvalidUtf8(text) == text;
}

// The candidates, and in `leftOut` the keys of files whose names the ledger could not hold.
std::vector<AccountFiles> candidates(const fs::path& from, const fs::path& to, std::vector<std::string>& leftOut)
{
    const std::set<std::string> accounts = SessionImporter::accounts(to);
    std::vector<AccountFiles> result;
    for (const std::string& folder : SessionImporter::sessionFolders()) {
        for (const std::string& account : accounts) {
            AccountFiles group {folder + "/" + account + "/", from / folder / account, to / folder / account, {}};
            for (std::string& relative : files(group.source)) {
                if (isUtf8(relative))
                    group.relativePaths.push_back(std::move(relative));
                else
                    leftOut.push_back(group.keyPrefix + relative);
            }
            if (!group.relativePaths.empty())
                result.push_back(std::move(group));
        }
    }
    return result;
}

StringSet sessionIDs(const fs::path& dataFolder)
{
    StringSet ids;
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

// ---- Configuration ----

json readConfig(const fs::path& file)
{
    std::error_code error;
    if (!fs::exists(file, error)) {
        if (error)
            FileError::throwRead(file, error.value());
        return json::object();
    }
    // Numbers keep their text: the file is written back with the pins as the only change. The first reading only
    // refuses what nests too deep for the writer.
    const std::string text = AtomicFile::read(file);
    std::string problem;
    json config = JsonText::parse(text, &problem);
    if (!config.is_discarded())
        config = JsonWriter::parseKeepingNumbers(text);
    if (config.is_discarded())
        throw FileError(FileError::Kind::ReadCorrupt, file, 0, problem);
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

// The strings of an array of strings; anything else, or an array with anything else in it, is empty.
std::vector<std::string> stringList(const json* value)
{
    if (!value || !value->is_array())
        return {};
    std::vector<std::string> result;
    result.reserve(value->size());
    for (const json& element : *value) {
        if (!element.is_string())
            return {};
        result.push_back(element.get<std::string>());
    }
    return result;
}

std::vector<std::string> pins(const json& config)
{
    const json* preferences = member(config, ClaudeDesktop::pinsKeyPath[0]);
    const json* epitaxy = preferences ? member(*preferences, ClaudeDesktop::pinsKeyPath[1]) : nullptr;
    return stringList(epitaxy ? member(*epitaxy, ClaudeDesktop::pinsKeyPath[2]) : nullptr);
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
    std::vector<std::string> list = stringList(&starred);
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

std::vector<std::string> sourcePins(const fs::path& from)
{
    return pins(readConfigOrEmpty(from / ClaudeDesktop::configFile));
}

// The source pins not yet considered for this destination whose session the destination has, in order.
std::vector<std::string> newPins(std::vector<std::string> pending, const fs::path& to, const Ledger& ledger)
{
    std::erase_if(pending, [&](const std::string& pin) { return ledger.pins.contains(pin); });
    if (pending.empty())
        return pending;
    const StringSet sessions = sessionIDs(to);
    std::erase_if(pending, [&](const std::string& pin) { return !sessions.contains(pin); });
    return pending;
}

// Reads the destination's configuration, lets `add` add to it and writes it back when it added something; returns
// what `add` returned. A profile whose app has never run has no data folder yet: it gets one, as Claude would make.
template<typename Add>
int64_t addToConfig(const fs::path& to, Add add)
{
    const fs::path configFile = to / ClaudeDesktop::configFile;
    Directories::create(to, 0700);
    json config = readConfig(configFile);
    const int64_t added = add(config);
    if (added > 0)
        JsonWriter::writeFile(config, configFile);
    return added;
}

// The MCP servers of a configuration by name; anything but an object holds none.
json mcpServers(const json& config)
{
    const json* servers = member(config, ClaudeDesktop::mcpServersKey);
    return servers && servers->is_object() ? *servers : json::object();
}

// The names of the source's servers the ledger has not seen, sorted.
std::vector<std::string> unseenMcpServers(const json& servers, const Ledger& ledger)
{
    std::vector<std::string> names;
    for (const auto& [name, value] : servers.items()) {
        if (!ledger.mcpServers.contains(name))
            names.push_back(name);
    }
    return names;
}

// Adds the named servers the configuration lacks; one of the same name there is the user's and stays.
int64_t addMcpServers(json& config, const json& servers, const std::vector<std::string>& names)
{
    json& present = objectAt(config, ClaudeDesktop::mcpServersKey);
    int64_t added = 0;
    for (const std::string& name : names) {
        if (present.contains(name))
            continue;
        present[name] = servers.at(name);
        ++added;
    }
    return added;
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
    for (const AccountFiles& group : candidates(from, to, counts.leftOut)) {
        for (const std::string& relative : group.relativePaths) {
            if (ledger.files.contains(group.keyPrefix + relative) || somethingAt(group.destination / relative))
                continue;
            ++counts.missingFiles;
            if (isSessionFile(fileName(relative)))
                ++counts.missingSessions;
        }
    }
    return counts;
}

SessionImporter::Summary SessionImporter::importSessions(
    const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    Ledger ledger = loadLedger(ledgerURL);
    Summary copied;
    bool handledAny = false;
    std::optional<FileError> failure;
    const auto fail = [&failure](const FileError& error) {
        if (!failure)
            failure = error;
    };
    const auto handled = [&](std::string key) {
        ledger.files.insert(std::move(key));
        handledAny = true;
    };
    // The copies wait in the batch for one flush; only those that reach their names count and enter the ledger.
    std::optional<FileCopyBatch> batch;
    std::vector<std::string> waiting;
    const auto commit = [&] {
        const auto results = batch->commit();
        for (size_t i = 0; i < results.size(); ++i) {
            if (results[i]) {
                fail(*results[i]);
                continue;
            }
            ++copied.missingFiles;
            if (isSessionFile(fileName(waiting[i])))
                ++copied.missingSessions;
            handled(std::move(waiting[i]));
        }
        waiting.clear();
    };
    for (const AccountFiles& group : candidates(from, to, copied.leftOut)) {
        for (const std::string& relative : group.relativePaths) {
            std::string key = group.keyPrefix + relative;
            if (ledger.files.contains(key))
                continue;
            if (somethingAt(group.destination / relative)) {
                handled(std::move(key));
                continue;
            }
            try {
                if (!batch)
                    batch.emplace(to);
                batch->add(group.source / relative, key);
                waiting.push_back(std::move(key));
            } catch (const FileError& error) {
                fail(error);
                continue;
            }
            if (batch->isFull())
                commit();
        }
    }
    if (batch)
        commit();
    if (handledAny)
        saveLedger(ledger, ledgerURL);
    if (failure)
        throw *failure;
    return copied;
}

std::vector<std::string> SessionImporter::pinsToMerge(
    const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    std::vector<std::string> result = sourcePins(from);
    if (result.empty())
        return result;
    result = newPins(std::move(result), to, loadLedger(ledgerURL));
    if (result.empty())
        return result;
    const std::vector<std::string> starred = pins(readConfigOrEmpty(to / ClaudeDesktop::configFile));
    const StringSet present(starred.begin(), starred.end());
    std::erase_if(result, [&](const std::string& pin) { return present.contains(pin); });
    return result;
}

int64_t SessionImporter::mergePins(const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    std::vector<std::string> pending = sourcePins(from);
    if (pending.empty())
        return 0;
    Ledger ledger = loadLedger(ledgerURL);
    pending = newPins(std::move(pending), to, ledger);
    if (pending.empty())
        return 0;
    const int64_t appended = addToConfig(to, [&pending](json& config) { return appendPins(config, pending); });
    ledger.pins.insert(pending.begin(), pending.end());
    saveLedger(ledger, ledgerURL);
    return appended;
}

std::vector<std::string> SessionImporter::mcpServersToMerge(
    const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    std::vector<std::string> result =
        unseenMcpServers(mcpServers(readConfigOrEmpty(from / ClaudeDesktop::configFile)), loadLedger(ledgerURL));
    if (result.empty())
        return result;
    const json present = mcpServers(readConfigOrEmpty(to / ClaudeDesktop::configFile));
    std::erase_if(result, [&](const std::string& name) { return present.contains(name); });
    return result;
}

int64_t SessionImporter::mergeMcpServers(const fs::path& from, const fs::path& to, const fs::path& ledgerURL)
{
    const json servers = mcpServers(readConfigOrEmpty(from / ClaudeDesktop::configFile));
    if (servers.empty())
        return 0;
    Ledger ledger = loadLedger(ledgerURL);
    const std::vector<std::string> pending = unseenMcpServers(servers, ledger);
    if (pending.empty())
        return 0;
    const int64_t added =
        addToConfig(to, [&servers, &pending](json& config) { return addMcpServers(config, servers, pending); });
    ledger.mcpServers.insert(pending.begin(), pending.end());
    saveLedger(ledger, ledgerURL);
    return added;
}

} // namespace korvel
