#include "core/system/DpkgDatabase.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

const std::string program = "/usr/lib/claude-desktop/claude-desktop";

// dpkg's own layout: one paragraph per package, the package's installed files in info/<package>.list.
void record(const fs::path& admin, const std::string& status, const std::string& list)
{
    writeText(admin / "status.new", status);
    fs::rename(admin / "status.new", admin / "status"); // as dpkg replaces it
    writeText(admin / "info/claude-desktop.list", list);
}

std::string paragraph(const std::string& package, const std::string& state, const std::string& version)
{
    return "Package: " + package + "\nStatus: " + state +
        "\nDescription: a package\n Version: 0.0 in the description\nVersion: " + version + "\n\n";
}

TEST(DpkgDatabase, TheVersionOnlyOfAnInstalledPackageForAFileItInstalled)
{
    TempDir admin;
    const std::string list = "/.\n/usr\n/usr/lib/claude-desktop\n" + program + "\n/usr/bin/claude-desktop\n";
    const std::string others = paragraph("claude-desktop-beta", "install ok installed", "9.9") +
        paragraph("adduser", "install ok installed", "3.134");
    struct Case
    {
        std::string what, status, list, file;
        std::optional<std::string> version;
    };
    const std::vector<Case> cases = {
        {"installed", others + paragraph("claude-desktop", "install ok installed", "1.2.3"), list, program, "1.2.3"},
        {"first in the file", paragraph("claude-desktop", "install ok installed", "1.2.3") + others, list, program,
            "1.2.3"},
        {"held", paragraph("claude-desktop", "hold ok installed", "1.2.3"), list, program, "1.2.3"},
        {"half-installed", paragraph("claude-desktop", "install reinstreq half-installed", "1.2.3"), list, program,
            std::nullopt},
        {"unpacked only", paragraph("claude-desktop", "install ok unpacked", "1.2.3"), list, program, std::nullopt},
        {"removed, its settings kept", paragraph("claude-desktop", "deinstall ok config-files", "1.2.3"), list, program,
            std::nullopt},
        {"only another package installed", others, list, program, std::nullopt},
        {"a file it did not install", paragraph("claude-desktop", "install ok installed", "1.2.3"), list,
            "/opt/claude-desktop/claude-desktop", std::nullopt},
        {"a longer name beside its file", paragraph("claude-desktop", "install ok installed", "1.2.3"), list,
            program + "-old", std::nullopt},
        {"a folder it installed the file into", paragraph("claude-desktop", "install ok installed", "1.2.3"),
            "/usr/lib/claude-desktop\n", program, std::nullopt},
        {"the start of a name it installed", paragraph("claude-desktop", "install ok installed", "1.2.3"), list,
            "/usr/lib/claude-desktop/claude", std::nullopt},
        {"no version", "Package: claude-desktop\nStatus: install ok installed\n\n", list, program, std::nullopt},
    };
    for (const Case& c : cases) {
        record(admin.path(), c.status, c.list);
        EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", c.file, admin.path()), c.version) << c.what;
    }
}

TEST(DpkgDatabase, FollowsTheRecordAsDpkgChangesIt)
{
    TempDir admin;
    const std::string list = program + "\n";
    writeText(admin / "info/claude-desktop-beta.list", list);
    record(admin.path(),
        paragraph("claude-desktop", "install ok installed", "1.2.3") +
            paragraph("claude-desktop-beta", "install ok installed", "9.9"),
        list);
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", program, admin.path()), "1.2.3");
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop-beta", program, admin.path()), "9.9")
        << "another package asked of the same record";
    record(admin.path(), paragraph("claude-desktop", "install ok installed", "1.3.0"), list);
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", program, admin.path()), "1.3.0") << "upgraded";
    fs::remove(admin / "status");
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", program, admin.path()), std::nullopt) << "no status";
    record(admin.path(), paragraph("claude-desktop", "install ok installed", "1.2.3"), list);
    fs::remove(admin / "info/claude-desktop.list");
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", program, admin.path()), std::nullopt) << "no file list";
}

TEST(DpkgDatabase, TheRecordIsFoundWithoutReadingTheRestOfAHugeStatusFile)
{
    TempDir admin;
    record(admin.path(),
        paragraph("adduser", "install ok installed", "3.134") +
            paragraph("claude-desktop", "install ok installed", "1.2.3"),
        program + "\n");
    fs::resize_file(admin / "status", 6ull << 30); // a 6 GB tail of NUL bytes after the record
    EXPECT_EQ(DpkgDatabase::versionOwning("claude-desktop", program, admin.path()), "1.2.3");
}

} // namespace
