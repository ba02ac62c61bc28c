#include "app/cli/CommandLine.hpp"

#include "app/cli/CommandCompletion.hpp"
#include "app/cli/CommandRunner.hpp"
#include "app/cli/UsageError.hpp"
#include "app/model/AppModel.hpp"
#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/LinuxPlatform.hpp"
#include "app/platform/linux/SingleInstance.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/model/ProfileStore.hpp"
#include "core/support/FileLock.hpp"
#include "core/support/UnicodeText.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <signal.h>
#include <unistd.h>

// Every task is named before it is awaited (`auto t = f(); co_await t;`) and every awaited value is named
// before it is used: g++ 12 destroys temporaries of a co_await expression twice.

namespace korvel {
namespace {

// Every line as a terminal shows it without obeying it (names are anyone's text); in JSON, the escapes of
// characters above U+007F are JSON's own, so that it reads back the same.
std::string shownLines(const std::string& text)
{
    std::string shown;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        shown += UnicodeText::escapingControls(std::string_view(text).substr(start, end - start));
        if (end < text.size())
            shown += '\n';
        start = end + 1;
    }
    return shown;
}

void write(std::FILE* stream, const std::string& text)
{
    const std::string shown = shownLines(text);
    std::fwrite(shown.data(), 1, shown.size(), stream);
    std::fflush(stream);
}

std::string usageText(const UsageError& error)
{
    const std::string hint = error.usage().empty() ? "“korvel --help” lists the commands." : "Usage: " + error.usage();
    return std::string("korvel: ") + error.what() + "\n" + hint + "\n";
}

// Progress for people only: a line per step, when standard error is a terminal.
CommandRunner::Progress progressOnTerminal()
{
    if (!::isatty(STDERR_FILENO))
        return {};
    return [](const std::string& line) { write(stderr, line + "\n"); };
}

// The apps a command starts outlive it and must not hold the caller's standard output and error open: a script's
// `$(korvel open Work)` would wait until the app quits. While the model runs, descriptors 1 and 2 lead to
// /dev/null, which is what started programs inherit; the command's own words go to copies of the originals.
class CallersOutputs
{
public:
    CallersOutputs()
    {
        std::fflush(nullptr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            // A caller may have closed one; that one stays closed.
            m_saved.at(static_cast<size_t>(fd)) = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            if (m_saved.at(static_cast<size_t>(fd)) >= 0 && null >= 0)
                ::dup2(null, fd);
        }
        if (null >= 0)
            ::close(null);
    }
    ~CallersOutputs()
    {
        std::fflush(nullptr);
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            const int saved = m_saved.at(static_cast<size_t>(fd));
            if (saved >= 0) {
                ::dup2(saved, fd);
                ::close(saved);
            }
        }
    }
    CallersOutputs(const CallersOutputs&) = delete;
    CallersOutputs& operator=(const CallersOutputs&) = delete;

    // Progress lines on the caller's standard error while the command runs.
    CommandRunner::Progress progress() const
    {
        const int errorOutput = m_saved.at(STDERR_FILENO);
        if (errorOutput < 0 || !::isatty(errorOutput))
            return {};
        return [errorOutput](const std::string& line) {
            const std::string text = shownLines(line + "\n");
            [[maybe_unused]] const auto written = ::write(errorOutput, text.data(), text.size());
        };
    }

private:
    std::array<int, 3> m_saved {-1, -1, -1}; // copies of the caller's descriptors 1 and 2; -1 when closed
};

// The switcher lives in the application: `korvel switcher` starts Korvel when it isn't running, and returns once it
// holds the single-instance lock (the command then waits for it to listen).
void startKorvel()
{
    pid_t korvel = 0;
    {
        const CallersOutputs outputs; // Korvel outlives the command and must not hold the caller's outputs open
        korvel = DetachedProcess::start(LinuxMainBundle::currentExecutable(), {});
    }
    const QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!SingleInstance::isTaken()) {
        if (::kill(korvel, 0) != 0 || deadline.hasExpired())
            throw std::runtime_error("Korvel didn’t start. Start it from the application menu to see why.");
        QThread::msleep(20);
    }
}

CommandResult forward(const std::vector<std::string>& arguments)
{
    const SingleInstance instance;
    const auto progress = progressOnTerminal();
    const SingleInstance::CommandReply reply =
        instance.sendCommand(arguments, progress ? SingleInstance::ProgressLine(progress) : nullptr);
    return {reply.status, reply.output, reply.errorOutput};
}

QCoro::Task<> deliver(QCoro::Task<CommandResult> task, std::function<void(CommandResult)> done)
{
    CommandResult result;
    try {
        CommandResult finished = co_await task;
        result = std::move(finished);
    } catch (const std::exception& error) {
        result = {CommandResult::failed, {}, std::string("korvel: ") + error.what() + "\n"};
    }
    done(std::move(result));
}

CommandResult runHere(const Invocation& invocation)
{
    const CallersOutputs outputs;
    const AppPaths paths = AppPaths::live();
    const auto progress = outputs.progress();
    // A read-only command neither waits for nor creates the lock: the list is replaced atomically, so reading it
    // needs none, and the model it runs on keeps every app and session as it is.
    const bool readsOnly = CommandSyntax::readsOnly(invocation);
    // Held for the whole command, so that two commands running at once never interleave their changes.
    std::optional<FileLock> lock;
    if (!readsOnly) {
        lock.emplace(ProfileStore(paths.profilesFile()).lockURL(), std::nullopt, [&progress] {
            if (progress)
                progress("Waiting for another korvel command to finish…");
        });
    }
    // The command answers from what runs: it waits for the first look (the interface does not).
    LinuxPlatform desktop(LinuxMainBundle::currentExecutable(), std::chrono::seconds(3));
    const std::filesystem::path launcher =
        desktop.platform().mainBundle.bundlePath() / "Contents/MacOS" / ProfileBundleKeys::launcherExecutable;
    AppModel model(paths, desktop.platform(), launcher, AppModel::Options {false, false, !readsOnly, false});
    // Warned, not failed: the command can go on with the emptied profile, or with the profiles that could be read.
    // `import` answers the question itself.
    std::vector<std::string> notes;
    const std::optional<std::string>& error = model.errorMessage();
    if (const auto asked = model.profile(model.interruptedImport())) {
        const std::string id = asked->id.toString();
        if (invocation.command != "import")
            notes.push_back("Importing your Claude data into “" + asked->name +
                "” was interrupted. Korvel removed the part it had copied, so the profile starts empty. “korvel "
                "import " +
                id + "” imports your Claude data again; “korvel import " + id + " --keep-empty” keeps it empty.");
    } else if (error && model.leftOutProfiles().empty()) {
        return {CommandResult::failed, {}, *error + "\n"};
    } else if (error) {
        notes.push_back(*error);
    }

    std::optional<CommandResult> result;
    QEventLoop loop;
    deliver(CommandRunner::run(model, invocation, CommandRunner::Place::Here, progress, std::move(notes)),
        [&result, &loop](CommandResult finished) {
            result = std::move(finished);
            loop.quit();
        });
    if (!result)
        loop.exec();
    return *result;
}

std::string sanitized(const std::string& text)
{
    return UnicodeText::replacingInvalidUtf8(text);
}

QCoro::Task<> answer(
    QPointer<AppModel> model, std::vector<std::string> arguments, SingleInstance::CommandResponder responder)
{
    CommandResult result;
    try {
        const CommandSyntax::Parsed parsed = CommandSyntax::parse(arguments);
        if (parsed.kind != CommandSyntax::Kind::Run) {
            result.output = parsed.text;
        } else {
            if (!model)
                throw std::runtime_error("Korvel is quitting.");
            CommandRunner::Progress progress;
            if (responder.wantsProgress())
                progress = [responder](const std::string& line) { responder.progress(sanitized(line)); };
            auto running = CommandRunner::run(*model, parsed.invocation, CommandRunner::Place::RunningKorvel, progress);
            CommandResult finished = co_await running;
            result = std::move(finished);
        }
    } catch (const UsageError& error) {
        result = {CommandResult::misused, {}, usageText(error)};
    } catch (...) {
        result = {CommandResult::failed, {}, "korvel: Korvel quit before the command had finished.\n"};
    }
    responder.reply({result.status, sanitized(result.output), sanitized(result.errorOutput)});
}

// For the shell's completion: the profile names come from the list as stored, read without a lock or a model so
// that a key press never waits.
int complete(const std::vector<std::string>& words)
{
    std::vector<std::string> names;
    try {
        // A name a terminal would show escaped is offered as the profile's ID, which names it as well.
        for (const Profile& profile : ProfileStore(AppPaths::live().profilesFile()).load())
            names.push_back(UnicodeText::needsEscaping(profile.name) ? profile.id.toString() : profile.name);
    } catch (const std::exception&) {
        // no profiles to offer
    }
    for (const std::string& candidate : CommandCompletion::candidates(words, names))
        write(stdout, candidate + "\n");
    return CommandResult::done;
}

} // namespace

bool CommandLine::isCommand(int argc, char** argv)
{
    if (argc > 0 && std::filesystem::path(argv[0]).filename() == "korvel")
        return true;
    return argc > 1 && (CommandSyntax::find(argv[1]) != nullptr || argv[1] == CommandCompletion::command);
}

int CommandLine::run(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    if (!arguments.empty() && arguments.front() == CommandCompletion::command)
        return complete({arguments.begin() + 1, arguments.end()});
    CommandSyntax::Parsed parsed;
    try {
        parsed = CommandSyntax::parse(arguments);
    } catch (const UsageError& error) {
        write(stderr, usageText(error));
        return CommandResult::misused;
    }
    if (parsed.kind != CommandSyntax::Kind::Run) {
        write(stdout, parsed.text);
        return CommandResult::done;
    }
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("Korvel");
    try {
        if (parsed.invocation.command == "switcher" && !SingleInstance::isTaken())
            startKorvel();
        const CommandResult result = SingleInstance::isTaken() ? forward(arguments) : runHere(parsed.invocation);
        write(stdout, result.output);
        write(stderr, result.errorOutput);
        return result.status;
    } catch (const std::exception& error) {
        write(stderr, std::string("korvel: ") + error.what() + "\n");
        return CommandResult::failed;
    }
}

void CommandLine::serve(SingleInstance& instance, AppModel& model)
{
    instance.setCommandHandler(
        [model = QPointer<AppModel>(&model)](const std::vector<std::string>& arguments,
            SingleInstance::CommandResponder responder) { answer(model, arguments, std::move(responder)); });
}

} // namespace korvel
