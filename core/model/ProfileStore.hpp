#pragma once

#include "core/model/Profile.hpp"

#include <filesystem>
#include <vector>

namespace korvel {

// Persists the list of profiles in one JSON file. Reading is strict: anything malformed fails the
// whole read and nothing is returned in part; the file is never touched by a read.
struct ProfileStore
{
    std::filesystem::path fileURL;

    explicit ProfileStore(std::filesystem::path file)
        : fileURL(std::move(file))
    { }

    // The stored list in file order; empty when there is no file. Throws FileError.
    std::vector<Profile> load() const;
    // Replaces the stored list atomically, creating the folder when needed. Throws FileError.
    void save(const std::vector<Profile>& profiles) const;

    // The file's text for a list (exposed for the byte-exact tests and for callers that need the bytes).
    static std::string encode(const std::vector<Profile>& profiles);
    // Strict decoding of the file's text; `file` only names the file in errors.
    static std::vector<Profile> decode(const std::string& text, const std::filesystem::path& file);
};

} // namespace korvel
