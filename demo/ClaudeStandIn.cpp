// A stand-in for Claude Desktop, small enough to ship with the demo and the tests. It does what Korvel relies on:
// it takes its data folder from --user-data-dir=, fills it with "Local State" and "config.json", keeps
// Chromium's Singleton links while it runs, and hands the links of a second start for the same folder to the
// running instance. It shows a window with its folder and the links it got; with --headless, or without a
// display, it only logs.
//
// Every event is also appended to "<data folder>/standin.log", one line each: "started <pid> <arguments…>",
// "link <url>", "forwarded <url>…", "quit".
//
// Like Chromium it runs helpers: the running instance starts a "--type=zygote" helper on its data folder, which
// starts a "--type=renderer" one; both end with their parent. Chromium writes a process title over its arguments
// and environment, so the helpers show their arguments joined by spaces and every process's environment reads as
// NUL bytes: who a process belongs to must be told without either.

#include "StandInInstance.hpp"
#include "StandInWindow.hpp"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const QString dataDirSwitch = "--user-data-dir=";
int signalPipe[2] = {-1, -1};

struct Options
{
    fs::path dataDir;
    bool headless = false;
    QStringList links;
};

fs::path defaultDataDir()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return fs::path(config) / "Claude";
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/tmp") / ".config" / "Claude";
}

Options parse(const QStringList& arguments)
{
    Options options;
    options.headless = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(dataDirSwitch) && options.dataDir.empty())
            options.dataDir = argument.mid(dataDirSwitch.size()).toStdString();
        else if (argument == "--headless")
            options.headless = true;
        else if (argument.startsWith("claude:"))
            options.links.append(argument);
    }
    if (options.dataDir.empty())
        options.dataDir = defaultDataDir();
    return options;
}

// The bundle this executable runs from: X.app/Contents/MacOS/Claude.
fs::path ownBundle()
{
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path().parent_path().parent_path();
}

QString infoString(const fs::path& bundle, const QString& key, const QString& fallback)
{
    QFile file(QString::fromStdString((bundle / "Contents/Info.plist").string()));
    if (!file.open(QIODevice::ReadOnly))
        return fallback;
    const QString text = QString::fromUtf8(file.readAll());
    const QRegularExpression entry("<key>" + QRegularExpression::escape(key) + "</key>\\s*<string>([^<]*)</string>");
    const auto match = entry.match(text);
    return match.hasMatch() ? match.captured(1) : fallback;
}

void log(const fs::path& dataDir, const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    QFile file(QString::fromStdString((dataDir / "standin.log").string()));
    if (file.open(QIODevice::Append | QIODevice::Text))
        QTextStream(&file) << line << '\n';
}

// What Claude Desktop leaves in a folder it has used, so that Korvel's importer finds data worth copying.
void writeIfMissing(const fs::path& file, const QByteArray& content)
{
    if (fs::exists(file))
        return;
    QFile out(QString::fromStdString(file.string()));
    if (out.open(QIODevice::WriteOnly))
        out.write(content);
}

void prepareDataDir(const fs::path& dataDir)
{
    std::error_code error;
    fs::create_directories(dataDir, error);
    ::chmod(dataDir.c_str(), 0700);
    writeIfMissing(dataDir / "Local State",
        "{\"browser\":{\"enabled_labs_experiments\":[]},\"standin\":{\"created\":\"" +
            QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "\"}}\n");
    writeIfMissing(dataDir / "config.json", "{\"locale\":\"en-US\",\"userThemeMode\":\"system\"}\n");
}

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that the Singleton links are removed on the way out.
void quitOnSignals(QCoreApplication& application)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

// Overwrites the environment area with NUL bytes, keeping the variables for this process's own use.
void clearEnvironmentArea()
{
    std::vector<std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry)
        variables.emplace_back(*entry);
    for (char** entry = environ; entry && *entry; ++entry)
        std::memset(*entry, 0, std::strlen(*entry));
    ::clearenv();
    for (const std::string& variable : variables) {
        const auto equals = variable.find('=');
        if (equals != std::string::npos)
            ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
}

// A process title over the arguments, as Chromium's helpers have: all of them joined by spaces in argv[0]'s place,
// the rest of the area NUL bytes. Call after clearEnvironmentArea, whose area the title may reach into.
void setTitle(int argc, char** argv)
{
    std::string title;
    for (int i = 0; i < argc; ++i)
        title += (i ? " " : "") + std::string(argv[i]);
    char* const start = argv[0];
    char* end = argv[argc - 1] + std::strlen(argv[argc - 1]);
    const size_t room = static_cast<size_t>(end - start);
    std::memset(start, 0, room);
    std::memcpy(start, title.data(), std::min(title.size(), room));
}

// Starts this program again as a helper of `type` on the same data folder.
void startHelper(const std::string& type, const fs::path& dataDir)
{
    const pid_t child = ::fork();
    if (child != 0)
        return;
    const std::string typeSwitch = "--type=" + type, folder = (dataDirSwitch.toStdString() + dataDir.string());
    ::execl("/proc/self/exe", "claude-helper", typeSwitch.c_str(), folder.c_str(), "--headless",
        static_cast<char*>(nullptr));
    std::_Exit(127);
}

// A helper: it lives as long as its parent and starts the next helper of the chain.
int runHelper(int argc, char** argv, const QString& type, const fs::path& dataDir)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        return 0; // the parent is gone already
    clearEnvironmentArea();
    setTitle(argc, argv);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    if (type == "zygote")
        startHelper("renderer", dataDir);
    for (;;)
        ::pause();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const Options options = parse(arguments);
    for (const QString& argument : arguments)
        if (argument.startsWith("--type="))
            return runHelper(argc, argv, argument.mid(7), options.dataDir);
    std::unique_ptr<QCoreApplication> application =
        options.headless ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);
    quitOnSignals(*application); // before anything exists that a quit must clean up

    const fs::path bundle = ownBundle();
    const QString appName = infoString(bundle, "CFBundleDisplayName", "Claude");
    const QString version = infoString(bundle, "CFBundleShortVersionString", "?");
    prepareDataDir(options.dataDir);

    StandInInstance instance(options.dataDir);
    try {
        if (!instance.acquire()) {
            instance.forward(arguments.mid(1));
            log(options.dataDir, "forwarded " + (options.links.isEmpty() ? "(no links)" : options.links.join(' ')));
            return 0;
        }
    } catch (const std::exception& error) {
        log(options.dataDir, QString("error: ") + error.what());
        return 1;
    }
    log(options.dataDir, "started " + QString::number(::getpid()) + " " + arguments.join(' '));
    clearEnvironmentArea();
    startHelper("zygote", options.dataDir);

    std::unique_ptr<StandInWindow> window;
    if (!options.headless) {
        window = std::make_unique<StandInWindow>(appName, options.dataDir, version);
        window->show();
    }
    const auto receive = [&](const QStringList& links) {
        for (const QString& link : links) {
            log(options.dataDir, "link " + link);
            if (window)
                window->addLink(link);
        }
    };
    QObject::connect(&instance, &StandInInstance::received, [&](const QStringList& later) {
        receive(parse(QStringList {"Claude"} + later).links);
        if (window) {
            window->raise();
            window->activateWindow();
        }
    });
    receive(options.links);
    const int status = application->exec();
    log(options.dataDir, "quit");
    return status;
}
