#include "core/support/SafeFolder.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

// A copy as a sync round makes one: to a temporary name, then published under its own.
void copyNew(const korvel::SafeFolder& folder, int source, const std::string& name)
{
    folder.publish(folder.writeTemporaryCopy(source, name), name);
}

// A folder outside the profile's that a link planted inside points at: nothing may reach it.
struct Planted
{
    TempDir dir;
    fs::path inside = dir / "profile";
    fs::path outside = dir / "outside";
    std::map<std::string, std::string> before;

    Planted()
    {
        fs::create_directories(inside);
        writeText(outside / "keep", "mine");
        fs::permissions(outside, fs::perms(0755));
        before = describeTree(outside);
    }
    bool outsideUntouched() const { return describeTree(outside) == before && modeOf(outside) == 0755; }
};

class Descriptor
{
public:
    explicit Descriptor(const fs::path& file)
        : m_fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC))
    { }
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

TEST(SafeFolder, NoLinkLeadsAnyStepOutOfTheFolder)
{
    Planted planted;
    fs::create_directory_symlink(planted.outside, planted.inside / "link");
    fs::create_symlink(planted.outside / "keep", planted.inside / "file link");
    const SafeFolder folder = SafeFolder::open(planted.inside);

    const std::vector<std::pair<std::string, std::function<void()>>> steps = {
        {"descend through a link", [&] { folder.descend("link/new", 0700); }},
        {"descend to a link", [&] { folder.descend("link", 0700).setMode(0700); }},
        {"descend past ..", [&] { folder.descend("../outside", 0700).setMode(0700); }},
        {"open a link", [&] { SafeFolder::open(planted.inside / "link").setMode(0700); }},
        {"copy onto a link", [&] { copyNew(folder, Descriptor(planted.outside / "keep").fd(), "file link"); }},
    };
    for (const auto& [what, step] : steps) {
        EXPECT_THROW(step(), FileError) << what;
        EXPECT_TRUE(planted.outsideUntouched()) << what;
    }
    folder.remove("link");
    folder.remove("file link");
    EXPECT_TRUE(planted.outsideUntouched());
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted.inside / "link")));

    // A folder holding links to the outside goes with them, the outside stays.
    fs::create_directories(planted.inside / "tree/deeper");
    fs::create_directory_symlink(planted.outside, planted.inside / "tree/deeper/out");
    fs::create_symlink(planted.outside / "keep", planted.inside / "tree/keep");
    folder.remove("tree");
    folder.remove("never there");
    EXPECT_TRUE(planted.outsideUntouched());
    EXPECT_TRUE(fs::is_empty(planted.inside));
    EXPECT_EQ(
        thrown<FileError>([&] { SafeFolder::open(planted.dir / "missing"); }).kind(), FileError::Kind::ReadNoSuchFile);
}

TEST(SafeFolder, DescendMakesMissingFoldersWithExactlyTheirModeAndLeavesOthersAlone)
{
    TempDir dir;
    fs::create_directories(dir / "top/existing");
    fs::permissions(dir / "top/existing", fs::perms(0755));
    const mode_t saved = ::umask(0077);
    const SafeFolder made = SafeFolder::open(dir / "top").descend("existing/a/b", 0750);
    ::umask(saved);
    EXPECT_EQ(made.path(), dir / "top/existing/a/b");
    EXPECT_EQ(modeOf(dir / "top/existing"), 0755u) << "an existing folder keeps its mode";
    EXPECT_EQ(modeOf(dir / "top/existing/a"), 0750u) << "whatever the umask";
    EXPECT_EQ(modeOf(dir / "top/existing/a/b"), 0750u);
    writeText(dir / "top/file", "");
    EXPECT_EQ(thrown<FileError>([&] { SafeFolder::open(dir / "top").descend("file/x", 0700); }).errorNumber(), ENOTDIR);
}

TEST(SafeFolder, CopyNewFileKeepsTheSourceAndNeverReplacesAnything)
{
    TempDir dir;
    fs::create_directories(dir / "to");
    writeText(dir / "from", std::string(200'000, 's'));
    ::chmod((dir / "from").c_str(), 0640);
    const timespec times[2] = {{1'600'000'000, 5}, {1'600'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "from").c_str(), times, 0), 0);
    const SafeFolder to = SafeFolder::open(dir / "to");

    copyNew(to, Descriptor(dir / "from").fd(), "copy");
    EXPECT_EQ(describeTree(dir / "to").at("copy"), describeTree(dir.path()).at("from")) << "data, mode and times";

    // Something written there meanwhile, say by Claude itself, stays as it is.
    writeText(dir / "to/taken", "Claude's own");
    fs::create_directories(dir / "to/folder");
    for (const char* name : {"taken", "folder", "copy"}) {
        const auto before = describeTree(dir / "to");
        const auto error = thrown<FileError>([&] { copyNew(to, Descriptor(dir / "from").fd(), name); });
        EXPECT_EQ(error.kind(), FileError::Kind::WriteFileExists) << name;
        EXPECT_EQ(error.path(), dir / "to" / name);
        EXPECT_EQ(describeTree(dir / "to"), before) << name << ": untouched, no temporary file left";
    }
    const auto before = describeTree(dir / "to");
    EXPECT_EQ(thrown<FileError>([&] { copyNew(to, Descriptor(dir.path()).fd(), "unreadable"); }).kind(),
        FileError::Kind::WriteUnknown)
        << "a source that cannot be read";
    EXPECT_EQ(describeTree(dir / "to"), before) << "no temporary file left";
}

} // namespace
