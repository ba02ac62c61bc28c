#include "app/platform/linux/LinuxTrash.hpp"

#include "core/support/FileError.hpp"

#include <QFile>

#include <cerrno>
#include <stdexcept>

namespace korvel {

QCoro::Task<> LinuxTrash::moveToTrash(std::filesystem::path item)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(item, error)))
        throw FileError(FileError::Kind::ReadNoSuchFile, item, ENOENT);
    QFile file(QString::fromStdString(item.string()));
    if (!file.moveToTrash())
        throw std::runtime_error(
            "“" + item.string() + "” couldn’t be moved to the Trash: " + file.errorString().toStdString() + ".");
    co_return;
}

} // namespace korvel
