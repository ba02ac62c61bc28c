#include "core/support/DesktopEntry.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <algorithm>

namespace korvel {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view groupHeader = "[Desktop Entry]";
constexpr std::string_view actionPrefix = "[Desktop Action ";
constexpr std::string_view reservedInExec = " \t\n\"'\\><~|&;$*?#()`";

std::string escapeValue(std::string_view value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case ' ':
            // Blanks around a value are not part of it, so leading and trailing ones must be escaped.
            escaped += i == 0 || i + 1 == value.size() ? "\\s" : " ";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string unescapeValue(std::string_view value)
{
    std::string plain;
    plain.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        case '\\':
            plain += '\\';
            break;
        default: // not an escape of the format: keep both characters
            plain += '\\';
            plain += value[i];
        }
    }
    return plain;
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string quotedExecArgument(std::string_view argument)
{
    std::string word;
    const bool quote = argument.empty() || argument.find_first_of(reservedInExec) != std::string_view::npos;
    if (quote)
        word += '"';
    for (const char c : argument) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            word += '\\';
        if (c == '%')
            word += '%';
        word += c;
    }
    if (quote)
        word += '"';
    return word;
}

Entries::const_iterator findKey(const Entries& entries, std::string_view key)
{
    return std::find_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.first == key; });
}

void appendGroup(std::string& text, std::string_view header, const Entries& entries)
{
    text += header;
    text += '\n';
    for (const auto& [key, value] : entries)
        text += key + "=" + escapeValue(value) + "\n";
}

} // namespace

void DesktopEntry::setActions(std::vector<Action> actions)
{
    m_actions = std::move(actions);
    std::string ids;
    for (const Action& action : m_actions)
        ids += action.id + ";";
    if (!ids.empty())
        set("Actions", std::move(ids));
    else if (const auto key = findKey(m_entries, "Actions"); key != m_entries.end())
        m_entries.erase(key);
}

void DesktopEntry::set(const std::string& key, std::string value)
{
    const auto existing =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& entry) { return entry.first == key; });
    if (existing != m_entries.end())
        existing->second = std::move(value);
    else
        m_entries.emplace_back(key, std::move(value));
}

std::optional<std::string> DesktopEntry::value(std::string_view key) const
{
    const auto entry = findKey(m_entries, key);
    return entry != m_entries.end() ? std::optional(entry->second) : std::nullopt;
}

std::string DesktopEntry::format() const
{
    std::string text;
    appendGroup(text, groupHeader, m_entries);
    for (const Action& action : m_actions)
        appendGroup(text, "\n" + std::string(actionPrefix) + action.id + "]", action.entries);
    return text;
}

DesktopEntry DesktopEntry::parse(std::string_view text)
{
    DesktopEntry entry;
    Entries* group = nullptr;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            group = nullptr;
            if (line == groupHeader)
                group = &entry.m_entries;
            else if (line.starts_with(actionPrefix) && line.back() == ']') {
                Action& action = entry.m_actions.emplace_back();
                action.id = line.substr(actionPrefix.size(), line.size() - actionPrefix.size() - 1);
                group = &action.entries;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (!group || equals == std::string_view::npos)
            continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        if (key.empty() || findKey(*group, key) != group->end())
            continue; // the first of duplicate keys wins
        group->emplace_back(std::string(key), unescapeValue(trimmed(line.substr(equals + 1))));
    }
    return entry;
}

DesktopEntry DesktopEntry::read(const std::filesystem::path& file)
{
    return parse(AtomicFile::read(file));
}

void DesktopEntry::write(const std::filesystem::path& file) const
{
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error)
        FileError::throwWrite(file.parent_path(), error.value());
    AtomicFile::write(file, format());
}

bool DesktopEntry::writeIfChanged(const std::filesystem::path& file) const
{
    try {
        if (AtomicFile::read(file) == format())
            return false;
    } catch (const FileError&) {
        // not written yet
    }
    write(file);
    return true;
}

std::string DesktopEntry::execLine(const std::vector<std::string>& given, std::string_view fieldCode)
{
    std::vector<std::string> arguments = given;
    // GLib looks for the program under the Exec value's first word as written, before it turns %% into %: a
    // program whose path holds a % would never be found and the whole entry is refused. A shell started by its
    // fixed path runs it instead.
    if (!arguments.empty() && arguments.front().find('%') != std::string::npos)
        arguments.insert(arguments.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\""});
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += quotedExecArgument(argument);
    }
    if (!fieldCode.empty())
        line += (line.empty() ? "" : " ") + std::string(fieldCode);
    return line;
}

} // namespace korvel
