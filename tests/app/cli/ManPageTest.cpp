#include "app/cli/ManPage.hpp"
#include "app/cli/CommandSyntax.hpp"
#include "core/support/AtomicFile.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace korvel {
namespace {

using test::ChildProcess;

// The page as man shows it, with every warning groff has, on lines wide enough that nothing is hyphenated.
ChildProcess::Result shown(const std::filesystem::path& page)
{
    return ChildProcess::run("/usr/bin/man",
        {.arguments = {"man", "--warnings=w", "-l", page.string()},
            .environment = {{"MANWIDTH", "1000"}, {"LC_ALL", "C.UTF-8"}, {"MANPAGER", "cat"}, {"PAGER", "cat"}}});
}

// Runs of white space as one blank: where roff breaks and fills lines is its own affair.
std::string words(std::string_view text)
{
    std::istringstream in {std::string(text)};
    std::string joined;
    for (std::string word; in >> word;)
        joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

TEST(ManPage, RoffPrintsEscapedTextBackAsWritten)
{
    const std::vector<std::string> texts {".leading dot is no request", "'leading quote is no request",
        "a back\\slash, \\fBno font\\fR", "claude-code --json -- -x", "“Work” — it’s … Straße 中文 😀", "`quoted'",
        "line\n.two"};
    std::string page = ".TH T 1\n.SH NAME\nt \\- t\n.SH DESCRIPTION\n";
    for (const std::string& text : texts)
        page += ".PP\n" + ManPage::escaped(text) + "\n";
    test::TempDir folder;
    AtomicFile::write(folder / "t.1", page);

    const auto man = shown(folder / "t.1");
    EXPECT_EQ(man.exitStatus, 0);
    EXPECT_EQ(man.standardError, "");
    for (const std::string& text : texts)
        EXPECT_NE(words(man.standardOutput).find(words(text)), std::string::npos) << text << "\n" << man.standardOutput;
}

// Every line that `--help` prints for the commands is on the page, so the page and the help cannot part.
TEST(ManPage, TheBuiltPageSaysWhatTheHelpSays)
{
    const auto man = shown(KORVEL_BINARY_DIR "/packaging/korvel.1");
    ASSERT_EQ(man.exitStatus, 0);
    EXPECT_EQ(man.standardError, "");
    const std::string page = words(man.standardOutput);
    EXPECT_NE(page.find("korvel - Several Claude Desktop accounts side by side"), std::string::npos) << page;
    EXPECT_NE(page.find("Korvel " KORVEL_VERSION), std::string::npos);

    std::vector<std::string> lines;
    const auto addLines = [&lines](std::string_view text) {
        std::istringstream in {std::string(text)};
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("--")) { // an option: its name, then what it does
                const size_t gap = line.find("  ");
                lines.push_back(line.substr(0, gap));
                line.erase(0, gap);
            }
            lines.push_back(line);
        }
    };
    addLines(CommandSyntax::introduction());
    addLines(CommandSyntax::profileRule());
    addLines(CommandSyntax::exitStatus());
    for (const CommandSyntax::Command& command : CommandSyntax::commands()) {
        addLines(CommandSyntax::usage(command) + "\n" + std::string(command.summary));
        addLines(CommandSyntax::details(command));
    }
    ASSERT_GT(lines.size(), 50u);
    for (const std::string& line : lines)
        EXPECT_NE(page.find(words(line)), std::string::npos) << line;
}

} // namespace
} // namespace korvel
