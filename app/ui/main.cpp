// Korvel: one instance per user, in the tray, over the real desktop.
//
//     Korvel [claude://…]…
//
// A second start hands its links (or, without any, a request to show the window) to the running Korvel and ends.
// Started as `korvel`, or with a command's name first (`Korvel list`), it is the command line instead.

#include "app/cli/CommandLine.hpp"
#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/LinuxPlatform.hpp"
#include "app/platform/linux/SingleInstance.hpp"
#include "app/ui/KorvelApp.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/support/XdgFolders.hpp"

#include <QApplication>
#include <QSystemTrayIcon>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using namespace korvel;

// Every argument that is not an option is a link the desktop asked Korvel to open; only claude: links count.
std::vector<std::string> linksIn(const QStringList& arguments)
{
    std::vector<std::string> links;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith('-'))
            links.push_back(arguments[i].toStdString());
    }
    return SingleInstance::claudeLinks(links);
}

int fail(const std::exception& error)
{
    std::fprintf(stderr, "Korvel: %s\n", error.what());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (CommandLine::isCommand(argc, argv))
        return CommandLine::run(argc, argv);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Korvel");
    // Native Wayland windows carry it as their app id: desktops find Korvel's entry (name, icon) by it.
    QApplication::setDesktopFileName(
        QString::fromStdString(std::filesystem::path(DesktopRegistration::ownFileName).stem().string()));
    QApplication::setQuitOnLastWindowClosed(false);
    const std::vector<std::string> links = linksIn(QApplication::arguments());

    auto instance = std::make_unique<SingleInstance>();
    try {
        if (!instance->listen()) {
            instance->handOver(links);
            return 0;
        }
    } catch (const std::exception& error) {
        return fail(error);
    }

    try {
        LinuxPlatform desktop;
        desktop.workspace().listenToRelays();
        const std::filesystem::path bundle = desktop.platform().mainBundle.bundlePath();
        // The copy in an Applications folder must find the single-instance lock free when it starts.
        const auto relaunch = [&instance, &application](const std::filesystem::path& target) {
            instance.reset();
            try {
                DetachedProcess::start(target / "Contents/MacOS/Korvel", {});
            } catch (const std::exception& error) {
                fail(error); // the user starts the copy then; this process ends either way
            }
            QMetaObject::invokeMethod(&application, &QApplication::quit, Qt::QueuedConnection);
        };
        KorvelApp korvel(AppPaths::live(), desktop.platform(), bundle / "Contents/MacOS/KorvelLauncher",
            MoveToApplications::System::live(bundle, XdgFolders::home(), relaunch));
        CommandLine::serve(*instance, korvel.model());

        QObject::connect(instance.get(), &SingleInstance::urlsReceived, &korvel.delegate(), &AppDelegate::open);
        QObject::connect(instance.get(), &SingleInstance::showRequested, &korvel, &KorvelApp::openMainWindow);
        QObject::connect(&korvel, &KorvelApp::quitRequested, &application, &QApplication::quit);
        korvel.start(QSystemTrayIcon::isSystemTrayAvailable());
        korvel.delegate().open(links);
        return application.exec();
    } catch (const std::exception& error) {
        return fail(error);
    }
}
