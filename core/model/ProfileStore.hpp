#pragma once

#include "core/model/Profile.hpp"

#include <filesystem>
#include <functional>
#include <vector>

namespace korvel {

// Persists the list of profiles in one JSON file, shared by every Korvel process of the user. A file that is not
// such a list fails the whole read; an entry that is not a profile is left out and named, and the others are read.
// The file is never touched by a read. Every write holds the list's lock (".profiles.lock" beside the file) and
// refuses a list with an entry left out, which it would lose.
struct ProfileStore
{
    using Change = std::function<void(std::vector<Profile>&)>;

    // What is stored. A hand-edited list may hold one ID twice: every later holder gets an ID of its own, derived
    // from the list so that the same list always reads the same.
    struct Contents
    {
        std::vector<Profile> profiles;
        bool renumbered = false; // an ID was given anew; the file is still as it was
        // The entries that are not profiles, in file order: "profile 2 (“Work”): “mauve” is not a colour".
        std::vector<std::string> leftOut;
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
    // stored meanwhile is kept. Throws FileError, and nothing is stored (also when an entry is left out).
    std::vector<Profile> update(const Change& change) const;

    // The file's text for a list (exposed for the byte-exact tests and for callers that need the bytes).
    static std::string encode(const std::vector<Profile>& profiles);
    // The profiles in the file's text and the entries left out (renumbered is left false); `file` only names the
    // file in errors.
    static Contents decode(const std::string& text, const std::filesystem::path& file);
};

} // namespace korvel
