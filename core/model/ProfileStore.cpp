#include "core/model/ProfileStore.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/FileLock.hpp"
#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"
#include "core/support/Sha256.hpp"

#include <cerrno>
#include <set>
#include <stdexcept>
#include <system_error>

namespace korvel {
namespace {

using nlohmann::json;

[[noreturn]] void corrupt(const std::filesystem::path& file, const std::string& detail)
{
    throw FileError(FileError::Kind::ReadCorrupt, file, 0, detail);
}

// Why one entry of the list cannot be a profile.
struct EntryProblem : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

const json& requireKey(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end())
        throw EntryProblem("missing key “" + std::string(key) + "”");
    return *it;
}

const std::string& requireString(const json& object, const char* key)
{
    const json& value = requireKey(object, key);
    if (!value.is_string())
        throw EntryProblem("“" + std::string(key) + "” is not a string");
    return value.get_ref<const std::string&>();
}

Profile decodeProfile(const json& element)
{
    if (!element.is_object())
        throw EntryProblem("not an object");
    const std::string& idText = requireString(element, "id");
    const std::string& name = requireString(element, "name");
    const std::string& colorText = requireString(element, "color");
    const std::string& dateText = requireString(element, "createdAt");

    const auto id = Uuid::parse(idText);
    if (!id)
        throw EntryProblem("“" + idText + "” is not a UUID");
    const auto color = ProfileColor::fromRawValue(colorText);
    if (!color)
        throw EntryProblem("“" + colorText + "” is not a colour");
    const auto createdAt = Timestamp::parseIso8601(dateText);
    if (!createdAt)
        throw EntryProblem("“" + dateText + "” is not an ISO 8601 date with whole seconds and a time zone");
    return Profile {*id, name, *color, *createdAt};
}

// "profile 2 (“Work”): “mauve” is not a colour"; without the name when it is not a string.
std::string leftOutEntry(const json& element, size_t index, const std::string& problem)
{
    std::string entry = "profile " + std::to_string(index + 1);
    if (const auto name = element.is_object() ? element.find("name") : element.end();
        name != element.end() && name->is_string())
        entry += " (“" + name->get<std::string>() + "”)";
    return entry + ": " + problem;
}

// An ID for a later holder of a duplicated ID: from the ID, the position and an attempt number, so that the same
// list always gets the same one.
Uuid derivedID(const Uuid& id, size_t index, int attempt)
{
    const std::string hex = Sha256::hexOf(id.toString() + "#" + std::to_string(index) + "#" + std::to_string(attempt));
    std::array<uint8_t, 16> bytes {};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4, like Uuid::random
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    return Uuid(bytes);
}

bool renumberDuplicates(std::vector<Profile>& profiles)
{
    std::set<Uuid> taken;
    for (const Profile& profile : profiles)
        taken.insert(profile.id);
    std::set<Uuid> seen;
    bool renumbered = false;
    for (size_t i = 0; i < profiles.size(); ++i) {
        Profile& profile = profiles[i];
        if (seen.insert(profile.id).second)
            continue;
        Uuid id = derivedID(profile.id, i, 0);
        for (int attempt = 1; taken.contains(id); ++attempt)
            id = derivedID(profile.id, i, attempt);
        profile.id = id;
        taken.insert(id);
        seen.insert(id);
        renumbered = true;
    }
    return renumbered;
}

} // namespace

std::string ProfileStore::encode(const std::vector<Profile>& profiles)
{
    json list = json::array();
    for (const Profile& profile : profiles) {
        list.push_back(json {{"id", profile.id.toString()}, {"name", profile.name}, {"color", profile.color.rawValue()},
            {"createdAt", profile.createdAt.iso8601()}});
    }
    return JsonWriter::format(json {{"version", 1}, {"profiles", std::move(list)}});
}

ProfileStore::Contents ProfileStore::decode(const std::string& text, const std::filesystem::path& file)
{
    std::string problem;
    const json root = JsonText::parse(text, &problem);
    if (root.is_discarded())
        corrupt(file, problem);
    if (!root.is_object())
        corrupt(file, "the top level is not an object");
    const auto version = root.find("version");
    if (version == root.end())
        corrupt(file, "missing key “version”");
    if (!version->is_number_integer() && !version->is_number_unsigned())
        corrupt(file, "“version” is not an integer");
    const auto list = root.find("profiles");
    if (list == root.end())
        corrupt(file, "missing key “profiles”");
    if (!list->is_array())
        corrupt(file, "“profiles” is not an array");

    Contents contents;
    contents.profiles.reserve(list->size());
    for (size_t i = 0; i < list->size(); ++i) {
        try {
            contents.profiles.push_back(decodeProfile((*list)[i]));
        } catch (const EntryProblem& entry) {
            contents.leftOut.push_back(leftOutEntry((*list)[i], i, entry.what()));
        }
    }
    return contents;
}

ProfileStore::Contents ProfileStore::read() const
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(fileURL, error)))
        return {};
    Contents contents = decode(AtomicFile::read(fileURL), fileURL);
    contents.renumbered = renumberDuplicates(contents.profiles);
    return contents;
}

void ProfileStore::save(const std::vector<Profile>& profiles) const
{
    const FileLock lock(lockURL());
    std::error_code error;
    std::filesystem::create_directories(fileURL.parent_path(), error);
    if (error)
        FileError::throwWrite(fileURL.parent_path(), error.value());
    AtomicFile::write(fileURL, encode(profiles));
}

std::vector<Profile> ProfileStore::update(const Change& change) const
{
    const FileLock lock(lockURL());
    Contents stored = read();
    // Storing the others would lose what could not be read; the caller sets the file aside first.
    if (!stored.leftOut.empty())
        corrupt(fileURL, "Korvel couldn’t read " + stored.leftOut.front());
    std::vector<Profile> profiles = std::move(stored.profiles);
    change(profiles);
    save(profiles);
    return profiles;
}

} // namespace korvel
