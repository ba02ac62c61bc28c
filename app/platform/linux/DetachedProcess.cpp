#include "app/platform/linux/DetachedProcess.hpp"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <stdexcept>

namespace korvel::DetachedProcess {

pid_t start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
    const std::optional<std::string>& activationToken)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_ACTIVATION_TOKEN");
    environment.remove("DESKTOP_STARTUP_ID");
    if (activationToken)
        environment.insert("XDG_ACTIVATION_TOKEN", QString::fromStdString(*activationToken));
    QStringList list;
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    QProcess process;
    process.setProgram(QString::fromStdString(program.string()));
    process.setArguments(list);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    // QProcess forks twice and calls setsid() in between: the program is reparented and leads its own session.
    if (!process.startDetached(&pid))
        throw std::runtime_error(
            "“" + program.string() + "” couldn’t be started: " + process.errorString().toStdString() + ".");
    return static_cast<pid_t>(pid);
}

} // namespace korvel::DetachedProcess
