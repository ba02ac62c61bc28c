#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel {

// The [Desktop Entry] group of a freedesktop.org desktop entry file: what application menus, the autostart
// folder and the URL-scheme defaults of the desktop read, and its [Desktop Action …] groups (what a dock's or
// menu's right click offers). Values are kept unescaped; format() and parse() apply the file's escapes
// (\s \n \t \r \\). Other groups are not kept; a localised key (Name[de]) is a key of its own.
class DesktopEntry
{
public:
    struct Action
    {
        std::string id; // letters, digits and '-'
        std::vector<std::pair<std::string, std::string>> entries;
        friend bool operator==(const Action&, const Action&) = default;
    };

    // Sets `key` to `value`, keeping the key's place when it exists, else appending it.
    void set(const std::string& key, std::string value);
    std::optional<std::string> value(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& entries() const { return m_entries; }

    // Replaces the action groups and the Actions key that lists them (removed when there are none).
    void setActions(std::vector<Action> actions);
    const std::vector<Action>& actions() const { return m_actions; }

    // The file's text: the group header and one escaped Key=Value line per entry, then each action's group.
    std::string format() const;
    // Reads the [Desktop Entry] and [Desktop Action …] groups of `text`; anything else is skipped.
    static DesktopEntry parse(std::string_view text);

    // Reads a file; throws FileError when it cannot be read.
    static DesktopEntry read(const std::filesystem::path& file);
    // Writes format() atomically, creating the folder when missing; throws FileError.
    void write(const std::filesystem::path& file) const;
    // write() unless the file already holds format(); true when it wrote.
    bool writeIfChanged(const std::filesystem::path& file) const;

    // An Exec value that runs `arguments` exactly as given: arguments with characters a desktop would
    // interpret are double-quoted with their specials escaped, and % is doubled. `fieldCode` (e.g. "%u") is
    // appended unquoted. A program whose path holds a % is started through /bin/sh (GLib would not find it).
    static std::string execLine(const std::vector<std::string>& arguments, std::string_view fieldCode = {});

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
    std::vector<Action> m_actions;
};

} // namespace korvel
