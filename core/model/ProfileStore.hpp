#pragma once

#include "core/model/Profile.hpp"

#include <filesystem>
#include <functional>
#include <vector>

namespace korvel {

// Persists the list of profiles in one JSON file, shared by every Korvel process of the user. Reading is strict:
// anything malformed fails the whole read and nothing is returned in part; the file is never touched by a read.
// Every write holds the list's lock (".profiles.lock" beside the file).
struct ProfileStore
{
    using Change = std::function<void(std::vector<Profile>&)>;

    // What is stored. A hand-edited list may hold one ID twice: every later holder gets an ID of its own, derived
    // from the list so that the same list always reads the same.
    struct Contents
    {
        std::vector<Profile> profiles;
        bool renumbered = false; // an ID was given anew; the file is still as it was
    };

    std::filesystem::path fileURL;

    explicit ProfileStore(std::filesystem::path file)
        : fileURL(std::move(file))
    { }

    std::filesystem::path lockURL() const { return fileURL.parent_path() / ".profiles.lock"; }

    // The stored list in file order; empty when there is no file. Throws FileError.
    Contents read() const;
    std::vector<Profile> load() const { return read().profiles; }
    // Replaces the stored list atomically, creating the folder when needed. Throws FileError.
    void save(const std::vector<Profile>& profiles) const;
    // Applies `change` to the list as stored now and stores the result, which it returns: a change another process
    // stored meanwhile is kept. Throws FileError, and nothing is stored.
    std::vector<Profile> update(const Change& change) const;

    // The file's text for a list (exposed for the byte-exact tests and for callers that need the bytes).
    static std::string encode(const std::vector<Profile>& profiles);
    // Strict decoding of the file's text; `file` only names the file in errors.
    static std::vector<Profile> decode(const std::string& text, const std::filesystem::path& file);
};

} // namespace korvel
