#include "core/building/AppBundle.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/AtomicFile.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <regex>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

ChildProcess::Result run(const std::vector<std::string>& arguments)
{
    return ChildProcess::run(arguments[0], {.arguments = arguments, .environment = {{"LC_ALL", "C.UTF-8"}}});
}

// The first group of `pattern` in `text`, or "(none)".
std::string found(const std::string& text, const std::string& pattern)
{
    std::smatch match;
    return std::regex_search(text, match, std::regex(pattern)) ? match[1].str() : "(none)";
}

} // namespace

// The package as Debian's and the software centres' checkers see it: the package built by cpack, as the README
// says, then lintian on it and appstreamcli on what it installs.
TEST(Package, PassesLintianAndAppStreamAndSaysOneVersionEverywhere)
{
    TempDir folder;
    const auto cpack = run({KORVEL_CPACK, "--config", KORVEL_BINARY_DIR "/CPackConfig.cmake", "-B", folder.path()});
    ASSERT_EQ(cpack.exitStatus, 0) << cpack.standardOutput << cpack.standardError;
    std::vector<std::string> packages;
    for (const auto& item : fs::directory_iterator(folder.path()))
        if (item.path().extension() == ".deb")
            packages.push_back(item.path());
    ASSERT_EQ(packages.size(), 1u) << cpack.standardOutput;
    const std::string package = packages[0];

    const auto lintian = run({"/usr/bin/lintian", "--fail-on", "error,warning", package});
    EXPECT_EQ(lintian.exitStatus, 0) << lintian.standardError;
    EXPECT_EQ(lintian.standardOutput, "");

    const fs::path root = folder / "root";
    ASSERT_EQ(run({"/usr/bin/dpkg-deb", "--extract", package, root}).exitStatus, 0);
    const auto appstream = run({"/usr/bin/appstreamcli", "validate-tree", "--no-net", "--explain", root});
    EXPECT_EQ(appstream.exitStatus, 0) << appstream.standardOutput;
    // Not even a remark (I:); only the pedantic one that the id, the bundle identifier, has capitals.
    EXPECT_EQ(found(appstream.standardOutput, "(?:^|\\s)([EWI]: .*)"), "(none)") << appstream.standardOutput;

    // Software centres start Korvel through the desktop entry the metainfo names; the one Korvel writes for the
    // user, with the profiles' actions, has the same name so that it takes the installed one's place.
    const std::string metainfo = AtomicFile::read(root / "usr/share/metainfo/com.veldrane.Korvel.metainfo.xml");
    const std::string entry = found(metainfo, "<launchable type=\"desktop-id\">([^<]*)<");
    EXPECT_EQ(entry, DesktopRegistration::ownFileName);
    EXPECT_TRUE(fs::exists(root / "usr/share/applications" / entry)) << entry;

    const fs::path bundle = root / "usr/lib/korvel/Korvel.app";
    const PlistDictionary plist = InfoPlistPatcher::read(AppBundle::infoPlist(bundle));
    const auto version = run({root / "usr/bin/korvel", "--version"});
    const auto manual = run({"/usr/bin/zcat", root / "usr/share/man/man1/korvel.1.gz"});
    const std::vector<std::pair<std::string, std::string>> versions {
        {"package", found(run({"/usr/bin/dpkg-deb", "--field", package, "Version"}).standardOutput, "(.*)\n")},
        {"--version", found(version.standardOutput, "^korvel (.*)\n")},
        {"Info.plist", InfoPlistPatcher::stringValue(plist, "CFBundleShortVersionString").value_or("")},
        {"Info.plist build", InfoPlistPatcher::stringValue(plist, "CFBundleVersion").value_or("")},
        {"metainfo", found(metainfo, "<release version=\"([^\"]*)\"")},
        {"manual page", found(manual.standardOutput, "\n\\.TH KORVEL 1 \"[^\"]*\" \"Korvel ([^\"]*)\"")},
        {"changelog",
            found(run({"/usr/bin/zcat", root / "usr/share/doc/korvel/changelog.gz"}).standardOutput,
                "^korvel \\(([^)]*)\\)")}};
    for (const auto& [where, said] : versions)
        EXPECT_EQ(said, KORVEL_VERSION) << where;
}
