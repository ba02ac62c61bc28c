#pragma once

#include "core/support/FileError.hpp"
#include "core/support/SafeFolder.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Copies new files into a folder, each atomic and durable, paying for durability once per batch: every copy is
// written to a temporary name beside its own, one flush of the file system makes them all durable, then they are
// renamed into place and each folder that received one is flushed. Every folder is opened (created when missing,
// 0700) once per batch; nothing is ever written through a link in the destination, and nothing is replaced.
class FileCopyBatch
{
public:
    // Folders held open at once; a batch that reaches it should be committed.
    static constexpr size_t maxOpenFolders = 256;

    // Throws FileError (ReadUnknown) when `destination` cannot be opened.
    explicit FileCopyBatch(const std::filesystem::path& destination);
    // Temporary files of an uncommitted batch are removed.
    ~FileCopyBatch();
    FileCopyBatch(const FileCopyBatch&) = delete;
    FileCopyBatch& operator=(const FileCopyBatch&) = delete;

    // Writes the regular file `source` (never through a link) to a temporary name beside `relative` below the
    // destination. Throws FileError; then nothing of it is left.
    void add(const std::filesystem::path& source, const std::filesystem::path& relative);
    bool isFull() const { return m_folders.size() >= maxOpenFolders; }
    // Puts every file added since the last commit under its name, durably. One result per add, in order: nothing
    // when the file is in place, else why not (nothing of it is left then, except after a failed flush of its
    // folder, which leaves it in place).
    std::vector<std::optional<FileError>> commit();

private:
    struct Pending
    {
        const SafeFolder* folder;
        std::string temporary;
        std::string name;
    };

    const SafeFolder& folder(const std::filesystem::path& relative);
    void discardPending();

    SafeFolder m_root;
    std::map<std::filesystem::path, SafeFolder> m_folders;
    std::vector<Pending> m_pending;
};

} // namespace korvel
