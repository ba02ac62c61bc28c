#include "app/cli/ManPage.hpp"

#include "app/cli/CommandSyntax.hpp"
#include "core/support/UnicodeText.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

namespace korvel {
namespace {

std::vector<std::string> lines(std::string_view text)
{
    std::vector<std::string> all;
    std::istringstream in {std::string(text)};
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

// Hard line breaks of the help text become spaces: the page fills its own lines.
std::string filled(std::string_view text)
{
    std::string joined;
    for (const std::string& line : lines(text)) {
        const std::string trimmed = UnicodeText::trimWhiteSpace(line);
        if (!trimmed.empty())
            joined += (joined.empty() ? "" : " ") + trimmed;
    }
    return joined;
}

std::string font(char style, std::string_view text)
{
    return std::string("\\f") + style + ManPage::escaped(text) + "\\fR";
}

// An argument pattern as in a synopsis: options and literal words bold, placeholders italic, brackets,
// bars and ellipses plain. "NAME [--color C]" → \fINAME\fR [\fB\-\-color\fR \fIC\fR]
std::string synopsis(std::string_view pattern)
{
    std::string out;
    std::istringstream words {std::string(pattern)};
    for (std::string word; words >> word;) {
        const size_t begin = word.find_first_not_of('[');
        const std::string opening = word.substr(0, std::min(begin, word.size()));
        std::string core = begin == std::string::npos ? "" : word.substr(begin);
        std::string closing;
        for (const std::string_view tail : {"…", "]"}) {
            while (core.ends_with(tail)) {
                closing.insert(0, tail);
                core.resize(core.size() - tail.size());
            }
        }
        const bool placeholder = !core.empty() &&
            std::all_of(core.begin(), core.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
        const bool plain = core.empty() || core == "|";
        out += (out.empty() ? "" : " ") + opening +
            (plain ? ManPage::escaped(core) : font(placeholder ? 'I' : 'B', core)) + ManPage::escaped(closing);
    }
    return out;
}

// A command's further help: option lines ("--export  print …") as tagged paragraphs, the prose filled, and
// JSON, from its first brace on, as the help prints it.
std::string detailsSection(std::string_view details)
{
    const size_t brace = details.find('{');
    const std::string_view prose = details.substr(0, brace);
    std::string out;
    std::string paragraph;
    const auto flush = [&] {
        if (!paragraph.empty())
            out += ".PP\n" + ManPage::escaped(filled(paragraph)) + "\n";
        paragraph.clear();
    };
    for (const std::string& line : lines(prose)) {
        const size_t gap = line.find("  ");
        if (line.starts_with("--") && gap != std::string::npos) {
            flush();
            out += ".TP\n" + synopsis(line.substr(0, gap)) + "\n" + ManPage::escaped(filled(line.substr(gap))) + "\n";
        } else {
            paragraph += line + "\n";
        }
    }
    flush();
    if (brace != std::string_view::npos) {
        out += ".PP\n.RS 2\n.nf\n";
        for (const std::string& line : lines(details.substr(brace)))
            out += ManPage::escaped(line) + "\n";
        out += ".fi\n.RE\n";
    }
    return out;
}

} // namespace

std::string ManPage::escaped(std::string_view text)
{
    std::string out;
    bool lineStart = true;
    for (size_t offset = 0; offset < text.size();) {
        const char c = text[offset];
        if (lineStart && c == '.')
            out += "\\&";
        lineStart = c == '\n';
        if (static_cast<unsigned char>(c) >= 0x80) {
            const char32_t point = UnicodeText::decodeAt(text, offset);
            char name[16];
            std::snprintf(name, sizeof name, "\\[u%04X]", static_cast<unsigned>(point));
            out += name;
            continue;
        }
        ++offset;
        switch (c) {
        case '\\':
            out += "\\e";
            break;
        case '-':
            out += "\\-";
            break;
        case '\'':
            out += "\\(aq";
            break;
        case '`':
            out += "\\(ga";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ManPage::render(std::string_view summary, std::string_view date)
{
    std::string page = ".\\\" Written at build time from the table of korvel's commands; change that, not this.\n"
                       ".TH KORVEL 1 \"" +
        escaped(date) + "\" \"Korvel " + escaped(KORVEL_VERSION) + "\" \"User Commands\"\n";
    page += ".SH NAME\nkorvel \\- " + escaped(summary) + "\n";
    page += ".SH SYNOPSIS\n" + font('B', "korvel") + " " + synopsis("COMMAND [ARGUMENTS]") + "\n.br\n" +
        font('B', "korvel") + " " + synopsis("COMMAND --help") + "\n.br\n" + font('B', "korvel") + " " +
        synopsis("--version") + "\n";
    page += ".SH DESCRIPTION\n" + escaped(filled(CommandSyntax::introduction())) + "\n.PP\n" +
        escaped(
            filled(std::string(CommandSyntax::profileRule()) + "The colors are " + CommandSyntax::colorList() + ".")) +
        "\n.PP\n" + escaped(filled(CommandSyntax::exitStatus())) + "\n";
    page += ".SH COMMANDS\n";
    for (const CommandSyntax::Command& command : CommandSyntax::commands()) {
        const std::string arguments = command.arguments.empty() ? "" : " " + synopsis(command.arguments);
        page += ".TP\n" + font('B', "korvel " + std::string(command.name)) + arguments + "\n" +
            escaped(std::string(command.summary) + ".") + "\n";
        const std::string details = CommandSyntax::details(command);
        if (!details.empty())
            page += ".RS\n" + detailsSection(details) + ".RE\n";
    }
    return page;
}

} // namespace korvel
