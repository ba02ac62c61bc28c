#include "app/platform/linux/LinuxTrash.hpp"

#include "core/support/FileError.hpp"
#include "core/support/XdgFolders.hpp"

#include <QFile>

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

namespace korvel {
namespace {

// The home trash with its two folders. Qt sets it up too, but when it cannot, it moves the item into "files"
// of the working folder and reports success; so it must exist before Qt is asked.
void prepareHomeTrash()
{
    const std::filesystem::path trash = XdgFolders::dataHome() / "Trash";
    std::error_code error;
    std::filesystem::create_directories(trash.parent_path(), error);
    if (error)
        FileError::throwWrite(trash.parent_path(), error.value());
    for (const auto& folder : {trash, trash / "files", trash / "info"}) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            FileError::throwWrite(folder, errno);
        if (!std::filesystem::is_directory(folder, error))
            FileError::throwWrite(folder, ENOTDIR);
    }
}

} // namespace

QCoro::Task<> LinuxTrash::moveToTrash(std::filesystem::path item)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(item, error)))
        throw FileError(FileError::Kind::ReadNoSuchFile, item, ENOENT);
    prepareHomeTrash();
    QFile file(QString::fromStdString(item.string()));
    if (!file.moveToTrash())
        throw std::runtime_error(
            "“" + item.string() + "” couldn’t be moved to the Trash: " + file.errorString().toStdString() + ".");
    co_return;
}

} // namespace korvel
