#include "core/support/FileCopyBatch.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace korvel {

FileCopyBatch::FileCopyBatch(const std::filesystem::path& destination)
    : m_root(SafeFolder::open(destination))
{ }

FileCopyBatch::~FileCopyBatch()
{
    discardPending();
}

const SafeFolder& FileCopyBatch::folder(const std::filesystem::path& relative)
{
    if (relative.empty())
        return m_root;
    if (const auto found = m_folders.find(relative); found != m_folders.end())
        return found->second;
    SafeFolder opened = folder(relative.parent_path()).descend(relative.filename(), 0700);
    return m_folders.emplace(relative, std::move(opened)).first->second;
}

void FileCopyBatch::add(const std::filesystem::path& source, const std::filesystem::path& relative)
{
    const SafeFolder& target = folder(relative.parent_path());
    const int fd = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        FileError::throwRead(source, errno);
    const std::string name = relative.filename().string();
    try {
        m_pending.push_back({&target, target.writeTemporaryCopy(fd, name), name});
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

std::vector<std::optional<FileError>> FileCopyBatch::commit()
{
    std::vector<std::optional<FileError>> results(m_pending.size());
    if (m_pending.empty())
        return results;
    try {
        m_root.syncFileSystem();
    } catch (const FileError& error) {
        results.assign(m_pending.size(), error);
        discardPending();
        m_folders.clear();
        return results;
    }
    std::map<const SafeFolder*, std::vector<size_t>> published;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        const Pending& file = m_pending[i];
        try {
            file.folder->publish(file.temporary, file.name);
            published[file.folder].push_back(i);
        } catch (const FileError& error) {
            results[i] = error;
        }
    }
    m_pending.clear();
    for (const auto& [folder, files] : published) {
        try {
            folder->syncEntries();
        } catch (const FileError& error) {
            for (const size_t i : files)
                results[i] = error;
        }
    }
    m_folders.clear();
    return results;
}

void FileCopyBatch::discardPending()
{
    for (const Pending& file : m_pending)
        file.folder->discard(file.temporary);
    m_pending.clear();
}

} // namespace korvel
