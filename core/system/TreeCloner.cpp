#include "core/system/TreeCloner.hpp"

#include "core/support/FileError.hpp"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korvel {
namespace {

// Carries the errno of the first failure up to clone(), which turns it into the FileError.
struct Failure
{
    int error;
};

[[noreturn]] void fail(int error)
{
    throw Failure {error};
}

void check(bool succeeded)
{
    if (!succeeded)
        fail(errno);
}

struct Descriptor
{
    int fd;
    explicit Descriptor(int descriptor)
        : fd(descriptor)
    {
        check(fd >= 0);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Closing a written file can report a deferred write error; that must not be lost.
    void closeChecked()
    {
        const int descriptor = fd;
        fd = -1;
        check(::close(descriptor) == 0);
    }
};

struct Item
{
    std::string source;
    std::string destination;
    struct stat info;
};

struct Plan
{
    std::vector<Item> files; // copied in parallel after the walk; `info` is taken from the open file
    std::vector<Item> folders; // parents before children
    dev_t destinationDevice = 0;
    ino_t destinationInode = 0;
    // New files in the destination belong to us and our group (no set-group-ID folder above them), so a
    // file of ours needs no chown.
    bool plainOwnership = false;
};

// What the file workers share: the plan's facts and whether shared-extent clones still look possible.
struct FileCopy
{
    bool plainOwnership;
    uid_t user = ::geteuid();
    gid_t group = ::getegid();
    std::atomic<bool> cloneable {true};
    std::atomic<bool> cloned {false}; // at least one file shares its extents with the source
};

struct stat linkStatus(const std::string& path)
{
    struct stat info
    { };
    check(::lstat(path.c_str(), &info) == 0);
    return info;
}

// Attributes of other namespaces (security.*, trusted.*, system.*) are copied where we are allowed to;
// user.* ones belong to the content and must arrive.
bool required(const char* name)
{
    return std::string_view(name).starts_with("user.");
}

// Copies every extended attribute through the three calls of one flavour (fd-based or path-based).
template<typename List, typename Get, typename Set>
void copyAttributes(List list, Get get, Set set)
{
    ssize_t size = list(nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == EPERM))
        return;
    check(size >= 0);
    if (size == 0)
        return;
    std::string names(static_cast<size_t>(size), '\0');
    size = list(names.data(), names.size());
    check(size >= 0);
    std::string value;
    for (size_t at = 0; at < static_cast<size_t>(size); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t length = get(name, nullptr, 0);
        if (length >= 0) {
            value.resize(static_cast<size_t>(length));
            length = get(name, value.data(), value.size());
        }
        if (length < 0 || set(name, value.data(), static_cast<size_t>(length)) != 0) {
            if (required(name) && errno != ENODATA)
                fail(errno);
        }
    }
}

void copyOwner(int result)
{
    // Only root may give files away; everyone else keeps the copies as their own.
    if (result != 0 && errno != EPERM && errno != EINVAL)
        fail(errno);
}

// Owner before attributes (a chown clears security.capability), mode after both, times last.
void copyFileMetadata(int in, int out, const struct stat& info, const FileCopy& copy)
{
    if (!copy.plainOwnership || info.st_uid != copy.user || info.st_gid != copy.group)
        copyOwner(::fchown(out, info.st_uid, info.st_gid));
    copyAttributes([&](char* list, size_t size) { return ::flistxattr(in, list, size); },
        [&](const char* name, void* value, size_t size) { return ::fgetxattr(in, name, value, size); },
        [&](const char* name, const void* value, size_t size) { return ::fsetxattr(out, name, value, size, 0); });
    check(::fchmod(out, info.st_mode & 07777) == 0);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    check(::futimens(out, times) == 0);
}

void copyPathMetadata(const Item& item)
{
    const char* source = item.source.c_str();
    const char* destination = item.destination.c_str();
    const bool link = S_ISLNK(item.info.st_mode);
    copyOwner(::lchown(destination, item.info.st_uid, item.info.st_gid));
    copyAttributes([&](char* list, size_t size) { return ::llistxattr(source, list, size); },
        [&](const char* name, void* value, size_t size) { return ::lgetxattr(source, name, value, size); },
        [&](const char* name, const void* value, size_t size) {
            return ::lsetxattr(destination, name, value, size, 0);
        });
    if (!link)
        check(::chmod(destination, item.info.st_mode & 07777) == 0);
    const timespec times[2] = {item.info.st_atim, item.info.st_mtim};
    check(::utimensat(AT_FDCWD, destination, times, AT_SYMLINK_NOFOLLOW) == 0);
}

// A shared-extent copy. Once the file system has said it cannot, the remaining files skip the attempt.
bool cloneData(int in, int out, FileCopy& copy)
{
    if (!copy.cloneable.load(std::memory_order_relaxed))
        return false;
    if (::ioctl(out, FICLONE, in) == 0) {
        copy.cloned.store(true, std::memory_order_relaxed);
        return true;
    }
    if (errno == EOPNOTSUPP || errno == ENOTTY || errno == ENOSYS)
        copy.cloneable.store(false, std::memory_order_relaxed);
    return false;
}

void readWrite(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        check(n >= 0);
        if (n == 0)
            return;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            check(w >= 0);
            written += w;
        }
    }
}

void copyData(int in, int out)
{
    for (bool first = true;; first = false) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
        if (n == 0)
            return;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        // Kernels and file systems that cannot copy in the kernel say so on the first call.
        if (first && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            readWrite(in, out);
            return;
        }
        fail(errno);
    }
}

// True when the file had content, that is when it tried a clone.
bool copyFile(const Item& item, FileCopy& copy)
{
    Descriptor in(::open(item.source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info
    { };
    check(::fstat(in.fd, &info) == 0);
    Descriptor out(::open(item.destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (info.st_size > 0 && !cloneData(in.fd, out.fd, copy))
        copyData(in.fd, out.fd);
    copyFileMetadata(in.fd, out.fd, info, copy);
    out.closeChecked();
    return info.st_size > 0;
}

// A data copy keeps the kernel busy with one file while a second thread does another's metadata, so
// two threads help. Shared-extent clones are metadata work on the file system's journal, where a second
// thread only contends (measured on XFS): the first file with content decides.
void copyFiles(const std::vector<Item>& files, bool plainOwnership)
{
    FileCopy copy {plainOwnership};
    std::atomic<size_t> next {0};
    std::atomic<bool> stop {false};
    std::exception_ptr errors[2];
    const auto work = [&](std::exception_ptr& error, bool probing) {
        try {
            for (size_t i = 0; !stop.load() && (i = next++) < files.size();) {
                if (copyFile(files[i], copy) && probing)
                    return;
            }
        } catch (...) {
            error = std::current_exception();
            stop = true;
        }
    };
    work(errors[0], true);
    std::thread helper;
    if (!stop && next < files.size() && !copy.cloned && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread(work, std::ref(errors[1]), false);
        } catch (const std::system_error&) {
            // No second thread to be had: this one does all the files.
        }
    }
    work(errors[0], false);
    if (helper.joinable())
        helper.join();
    for (const std::exception_ptr& error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
}

void copyLink(const Item& item)
{
    std::string target(static_cast<size_t>(item.info.st_size > 0 ? item.info.st_size : 255) + 1, '\0');
    for (;;) {
        const ssize_t n = ::readlink(item.source.c_str(), target.data(), target.size());
        check(n >= 0);
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            break;
        }
        target.resize(target.size() * 2); // the link changed under us; read it again
    }
    check(::symlink(target.c_str(), item.destination.c_str()) == 0);
    copyPathMetadata(item);
}

void copySpecial(const Item& item)
{
    check(::mknod(item.destination.c_str(), item.info.st_mode, item.info.st_rdev) == 0);
    copyPathMetadata(item);
}

std::vector<std::pair<std::string, unsigned char>> listFolder(const std::string& path)
{
    // Read the whole folder before descending, so that a deep tree holds one folder open at a time.
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    check(folder != nullptr);
    std::vector<std::pair<std::string, unsigned char>> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            entries.emplace_back(name, entry->d_type);
        errno = 0;
    }
    check(errno == 0);
    return entries;
}

void visit(Item item, unsigned char type, Plan& plan);

void walkFolder(Item item, bool top, Plan& plan)
{
    if (::mkdir(item.destination.c_str(), 0700) != 0) {
        const int error = errno;
        struct stat existing
        { };
        // Like copyfile, an existing folder at the top receives the copy.
        if (!top || error != EEXIST || ::stat(item.destination.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode))
            fail(error);
    }
    if (top) {
        const struct stat created = linkStatus(item.destination);
        plan.destinationDevice = created.st_dev;
        plan.destinationInode = created.st_ino;
        plan.plainOwnership =
            created.st_uid == ::geteuid() && created.st_gid == ::getegid() && !(created.st_mode & S_ISGID);
    } else if (item.info.st_dev == plan.destinationDevice && item.info.st_ino == plan.destinationInode) {
        fail(EINVAL); // the destination lies inside the source: copying would never end
    }
    const std::vector<std::pair<std::string, unsigned char>> entries = listFolder(item.source);
    plan.folders.push_back(item);
    for (const auto& [name, type] : entries)
        visit(Item {item.source + "/" + name, item.destination + "/" + name, {}}, type, plan);
}

void visit(Item item, unsigned char type, Plan& plan)
{
    if (type == DT_REG) {
        plan.files.push_back(std::move(item));
        return;
    }
    item.info = linkStatus(item.source);
    if (S_ISDIR(item.info.st_mode))
        walkFolder(std::move(item), false, plan);
    else if (S_ISLNK(item.info.st_mode))
        copyLink(item);
    else if (S_ISREG(item.info.st_mode))
        plan.files.push_back(std::move(item));
    else
        copySpecial(item);
}

void cloneItem(const std::string& source, const std::string& destination)
{
    Plan plan;
    Item top {source, destination, linkStatus(source)};
    if (S_ISDIR(top.info.st_mode))
        walkFolder(std::move(top), true, plan);
    else
        visit(std::move(top), DT_UNKNOWN, plan);
    copyFiles(plan.files, plan.plainOwnership);
    for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder)
        copyPathMetadata(*folder);
}

} // namespace

void TreeCloner::clone(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    try {
        cloneItem(source.string(), destination.string());
    } catch (const Failure& failure) {
        FileError::throwWrite(destination, failure.error != 0 ? failure.error : EIO);
    }
}

} // namespace korvel
