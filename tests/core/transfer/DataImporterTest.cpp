#include "core/transfer/DataImporter.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace korvel;
using korvel::test::modeOf;
using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;
namespace fs = std::filesystem;

namespace {

// A bound unix socket, like the one a running Chromium-family app listens on; closed at the end.
class ListeningSocket
{
public:
    explicit ListeningSocket(const fs::path& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        EXPECT_LT(path.native().size(), sizeof address.sun_path);
        path.native().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(m_fd, 1), 0);
    }
    ~ListeningSocket() { ::close(m_fd); }
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

private:
    int m_fd = -1;
};

// Everything about a tree that an import must not change: types, modes, times, sizes, contents, link texts.
std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> result;
    const auto describe = [](const fs::path& path) {
        struct stat info
        { };
        if (::lstat(path.c_str(), &info) != 0)
            return std::string("missing");
        std::string text = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
            std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
        if (S_ISLNK(info.st_mode))
            text += " -> " + fs::read_symlink(path).string();
        else if (S_ISREG(info.st_mode))
            text += " " + std::to_string(std::hash<std::string> {}(readText(path)));
        return text;
    };
    result["."] = describe(root);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        result[entry.path().lexically_relative(root).string()] = describe(entry.path());
    return result;
}

bool present(const fs::path& path)
{
    struct stat info
    { };
    return ::lstat(path.c_str(), &info) == 0;
}

void expectFileError(const std::function<void()>& action, FileError::Kind kind, const fs::path& path)
{
    try {
        action();
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), kind) << error.what();
        EXPECT_EQ(error.path(), path);
    }
}

} // namespace

TEST(DataImporter, ImportableDataHasAMarkerEntryOfAnyKind)
{
    TempDir dir;
    EXPECT_EQ(DataImporter::lockFiles(),
        (std::vector<std::string> {"SingletonLock", "SingletonCookie", "SingletonSocket", "RunningChromeVersion"}));
    EXPECT_FALSE(DataImporter::hasImportableData(dir / "missing"));
    EXPECT_FALSE(DataImporter::hasImportableData(dir.path()));

    fs::create_symlink(dir / "nowhere", dir / "Local State");
    EXPECT_FALSE(DataImporter::hasImportableData(dir.path())) << "a dangling link is nothing";
    fs::create_directory(dir / "config.json");
    EXPECT_TRUE(DataImporter::hasImportableData(dir.path())) << "the type does not matter";
    fs::remove(dir / "config.json");
    writeText(dir / "nowhere", "{}");
    EXPECT_TRUE(DataImporter::hasImportableData(dir.path()));

    writeText(dir / "other/config.json", "{}");
    EXPECT_TRUE(DataImporter::hasImportableData(dir / "other"));
}

TEST(DataImporter, CopiesTheDataOfARunningAppWithoutItsLockEntries)
{
    TempDir dir;
    const fs::path source = dir / "Claude";
    writeText(source / "Local State", R"({"profile": {"last_used": "Default"}})");
    writeText(source / "config.json", "{}");
    writeText(source / "Default/Preferences", "prefs");
    writeText(source / "Default/Local Storage/leveldb/000003.log", std::string(100000, 'x'));
    writeText(source / "Profile 1/Cookies", std::string("\0\x01\xff", 3));
    writeText(source / "claude-code-sessions/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/local_1.json", "{}");
    writeText(source / ".hidden", "h");
    fs::create_symlink("../Preferences", source / "Default/Local Storage/back");
    ::chmod((source / "Profile 1/Cookies").c_str(), 0600);
    ::chmod((source / "Default").c_str(), 0700);
    ::chmod(source.c_str(), 0755);
    // What a running instance keeps: links to its host and cookie (no such files) and to its socket.
    fs::create_directories(dir / "tmp/.org.chromium.Chromium.x1y2z3");
    const fs::path socketPath = dir / "tmp/.org.chromium.Chromium.x1y2z3/SingletonSocket";
    ListeningSocket socket(socketPath);
    fs::create_symlink("workstation-4242", source / "SingletonLock");
    fs::create_symlink("12345678901234567890", source / "SingletonCookie");
    fs::create_symlink(socketPath, source / "SingletonSocket");
    writeText(source / "RunningChromeVersion", "126.0.6478.127");
    const auto before = snapshot(source);

    const fs::path destination = dir / "Korvel/Profiles/X/Data";
    DataImporter::importData(source, destination);

    EXPECT_EQ(snapshot(source), before) << "the source is never changed";
    EXPECT_TRUE(present(socketPath)) << "the running instance keeps its socket";
    EXPECT_EQ(fs::status(socketPath).type(), fs::file_type::socket);
    for (const std::string& name : DataImporter::lockFiles())
        EXPECT_FALSE(present(destination / name)) << name;

    EXPECT_EQ(modeOf(destination), 0700u);
    auto copied = snapshot(destination);
    auto expected = before;
    for (const std::string& name : DataImporter::lockFiles())
        expected.erase(name);
    copied.erase(".");
    expected.erase(".");
    EXPECT_EQ(copied, expected) << "contents, modes, times and links as in the source";
    EXPECT_EQ(fs::read_symlink(destination / "Default/Local Storage/back"), "../Preferences");
}

TEST(DataImporter, LockEntriesGoWhateverTheyAre)
{
    TempDir dir;
    writeText(dir / "target-file", "keep me");
    fs::create_directories(dir / "run");
    const fs::path socketPath = dir / "run/socket";
    ListeningSocket socket(socketPath);
    const std::vector<std::function<void(const fs::path&)>> kinds = {
        [&](const fs::path& entry) { writeText(entry, "file"); },
        [&](const fs::path& entry) { fs::create_symlink(dir / "target-file", entry); },
        [&](const fs::path& entry) { fs::create_symlink(socketPath, entry); },
        [&](const fs::path& entry) { fs::create_symlink(dir / "missing", entry); },
        [&](const fs::path& entry) { writeText(entry / "inside", "a folder"); },
    };
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
        const fs::path source = dir / ("source" + std::to_string(kind));
        writeText(source / "config.json", "{}");
        for (const std::string& name : DataImporter::lockFiles())
            kinds[kind](source / name);
        const fs::path destination = dir / ("destination" + std::to_string(kind));
        DataImporter::importData(source, destination);
        for (const std::string& name : DataImporter::lockFiles()) {
            EXPECT_FALSE(present(destination / name)) << kind << " " << name;
            EXPECT_TRUE(present(source / name)) << kind << " " << name;
        }
        EXPECT_TRUE(fs::exists(destination / "config.json"));
    }
    EXPECT_EQ(readText(dir / "target-file"), "keep me");
    EXPECT_TRUE(present(socketPath));
}

TEST(DataImporter, AnEmptyDestinationFolderIsReplacedAndMissingParentsAreMade)
{
    TempDir dir;
    writeText(dir / "source/config.json", "only the configuration");
    ::chmod((dir / "source").c_str(), 0755);

    fs::create_directories(dir / "empty");
    ::chmod((dir / "empty").c_str(), 0755);
    DataImporter::importData(dir / "source", dir / "empty");
    EXPECT_EQ(readText(dir / "empty/config.json"), "only the configuration");
    EXPECT_EQ(modeOf(dir / "empty"), 0700u);
    EXPECT_EQ(modeOf(dir / "source"), 0755u);

    DataImporter::importData(dir / "source", dir / "a/b/c/Data");
    EXPECT_EQ(readText(dir / "a/b/c/Data/config.json"), "only the configuration");
    EXPECT_EQ(modeOf(dir / "a/b/c/Data"), 0700u);
}

TEST(DataImporter, NeverMixesWithExistingDataOrImportsNothing)
{
    TempDir dir;
    writeText(dir / "source/Local State", "{}");

    writeText(dir / "hidden/.keep", "mine");
    expectFileError([&] { DataImporter::importData(dir / "source", dir / "hidden"); }, FileError::Kind::WriteFileExists,
        dir / "hidden");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "hidden"), {}), 1);
    EXPECT_EQ(readText(dir / "hidden/.keep"), "mine");

    writeText(dir / "file", "a file where the folder would go");
    try {
        DataImporter::importData(dir / "source", dir / "file");
        ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.path(), dir / "file");
        EXPECT_EQ(error.errorNumber(), ENOTDIR);
    }
    EXPECT_EQ(readText(dir / "file"), "a file where the folder would go");

    writeText(dir / "empty-source/Preferences", "no markers");
    for (const fs::path& source : {dir / "empty-source", dir / "missing"}) {
        expectFileError(
            [&] { DataImporter::importData(source, dir / "new/Data"); }, FileError::Kind::ReadNoSuchFile, source);
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
}
