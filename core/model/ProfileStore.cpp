#include "core/model/ProfileStore.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"

#include <cerrno>
#include <system_error>

namespace korvel {
namespace {

using nlohmann::json;

[[noreturn]] void corrupt(const std::filesystem::path& file, const std::string& detail)
{
    throw FileError(FileError::Kind::ReadCorrupt, file, 0, detail);
}

const json& requireKey(const json& object, const char* key, const std::string& where, const std::filesystem::path& file)
{
    const auto it = object.find(key);
    if (it == object.end())
        corrupt(file, "missing key “" + std::string(key) + "”" + where);
    return *it;
}

const std::string& requireString(
    const json& value, const char* key, const std::string& where, const std::filesystem::path& file)
{
    if (!value.is_string())
        corrupt(file, "“" + std::string(key) + "”" + where + " is not a string");
    return value.get_ref<const std::string&>();
}

Profile decodeProfile(const json& element, size_t index, const std::filesystem::path& file)
{
    const std::string where = " in profile " + std::to_string(index + 1);
    if (!element.is_object())
        corrupt(file, "profile " + std::to_string(index + 1) + " is not an object");

    const std::string& idText = requireString(requireKey(element, "id", where, file), "id", where, file);
    const std::string& name = requireString(requireKey(element, "name", where, file), "name", where, file);
    const std::string& colorText = requireString(requireKey(element, "color", where, file), "color", where, file);
    const std::string& dateText =
        requireString(requireKey(element, "createdAt", where, file), "createdAt", where, file);

    const auto id = Uuid::parse(idText);
    if (!id)
        corrupt(file, "“" + idText + "”" + where + " is not a UUID");
    const auto color = ProfileColor::fromRawValue(colorText);
    if (!color)
        corrupt(file, "“" + colorText + "”" + where + " is not a colour");
    const auto createdAt = Timestamp::parseIso8601(dateText);
    if (!createdAt)
        corrupt(file, "“" + dateText + "”" + where + " is not an ISO 8601 date with whole seconds and a time zone");
    return Profile {*id, name, *color, *createdAt};
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

std::vector<Profile> ProfileStore::decode(const std::string& text, const std::filesystem::path& file)
{
    std::string problem;
    const json root = JsonText::parse(text, &problem);
    if (root.is_discarded())
        corrupt(file, problem);
    if (!root.is_object())
        corrupt(file, "the top level is not an object");
    const json& version = requireKey(root, "version", "", file);
    if (!version.is_number_integer() && !version.is_number_unsigned())
        corrupt(file, "“version” is not an integer");
    const json& list = requireKey(root, "profiles", "", file);
    if (!list.is_array())
        corrupt(file, "“profiles” is not an array");

    std::vector<Profile> profiles;
    profiles.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        profiles.push_back(decodeProfile(list[i], i, file));
    return profiles;
}

std::vector<Profile> ProfileStore::load() const
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(fileURL, error)))
        return {};
    return decode(AtomicFile::read(fileURL), fileURL);
}

void ProfileStore::save(const std::vector<Profile>& profiles) const
{
    std::error_code error;
    std::filesystem::create_directories(fileURL.parent_path(), error);
    if (error)
        FileError::throwWrite(fileURL.parent_path(), error.value());
    AtomicFile::write(fileURL, encode(profiles));
}

} // namespace korvel
