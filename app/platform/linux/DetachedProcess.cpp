#include "app/platform/linux/DetachedProcess.hpp"

#include <QProcess>
#include <QStringList>

#include <stdexcept>

namespace korvel::DetachedProcess {

pid_t start(const std::filesystem::path& program, const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    QProcess process;
    process.setProgram(QString::fromStdString(program.string()));
    process.setArguments(list);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    // QProcess forks twice and calls setsid() in between: the program is reparented and leads its own session.
    if (!process.startDetached(&pid))
        throw std::runtime_error(
            "“" + program.string() + "” couldn’t be started: " + process.errorString().toStdString() + ".");
    return static_cast<pid_t>(pid);
}

} // namespace korvel::DetachedProcess
