#include "app/platform/linux/LinuxTerminal.hpp"

#include "app/platform/linux/DetachedProcess.hpp"

#include <QStandardPaths>

#include <cstdlib>

namespace korvel {

std::optional<std::vector<std::string>> LinuxTerminal::commandFor(const std::filesystem::path& file)
{
    std::vector<std::string> candidates;
    if (const char* preferred = std::getenv("TERMINAL"); preferred && *preferred)
        candidates.emplace_back(preferred);
    for (const char* name : {"x-terminal-emulator", "gnome-terminal", "konsole", "xterm"})
        candidates.emplace_back(name);
    for (const std::string& candidate : candidates) {
        const QString program = QStandardPaths::findExecutable(QString::fromStdString(candidate));
        if (program.isEmpty())
            continue;
        // gnome-terminal takes the command after "--"; the others, Debian's alternative included, after "-e".
        const bool gnome = std::filesystem::path(candidate).filename() == "gnome-terminal";
        return std::vector<std::string> {program.toStdString(), gnome ? "--" : "-e", file.string()};
    }
    return std::nullopt;
}

void LinuxTerminal::openCommandFile(const std::filesystem::path& file)
{
    const auto command = commandFor(file);
    if (!command)
        return;
    try {
        DetachedProcess::start(command->front(), {command->begin() + 1, command->end()});
    } catch (const std::exception&) {
        // Not reported, as the interface promises.
    }
}

} // namespace korvel
