#pragma once

#include <filesystem>

namespace korvel {

// The file work behind SystemTools::cloneTree. Folders, links and special files are made while the tree
// is walked; the regular files (the bulk of the work) are then copied over the list, each a FICLONE where
// the file system can share extents, else copy_file_range, else read/write, by two threads when data is
// being copied. Folder metadata is set last, deepest first, so that no later write touches a folder's time.
struct TreeCloner
{
    // Throws FileError (WriteUnknown) with `destination` and the errno of the first failure (EIO when
    // there is none). What was written before the failure stays.
    static void clone(const std::filesystem::path& source, const std::filesystem::path& destination);
};

} // namespace korvel
