// Runs Korvel's main job against the sandbox that scripts/run prepares, on the real desktop layer, and prints
// what happened:
//
//     korvel-demo --korvel <Korvel.app/Contents/MacOS/Korvel> --screenshots <folder>
//
// It is Korvel itself (the same application object, model and desktop services), driven by a script instead
// of a person. HOME, XDG_* and KORVEL_CLAUDE_APP must point into the sandbox.

#include "DemoScript.hpp"

#include "app/platform/linux/LinuxPlatform.hpp"
#include "app/platform/linux/SingleInstance.hpp"
#include "app/ui/KorvelApp.hpp"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

namespace {

using namespace korvel;

QCoro::Task<> play(DemoScript& script, int& status)
{
    auto run = script.run();
    status = co_await run;
    QApplication::quit();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Korvel");
    QApplication::setQuitOnLastWindowClosed(false);
    std::filesystem::path korvelExecutable;
    std::filesystem::path screenshots = "demo-screenshots";
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == "--korvel")
            korvelExecutable = arguments[i + 1].toStdString();
        else if (arguments[i] == "--screenshots")
            screenshots = arguments[i + 1].toStdString();
    }
    if (korvelExecutable.empty()) {
        std::fprintf(stderr, "usage: korvel-demo --korvel <Korvel executable> [--screenshots <folder>]\n");
        return 2;
    }
    try {
        // The demo is the running Korvel: it holds the single-instance socket that a second start talks to.
        SingleInstance instance;
        if (!instance.listen()) {
            std::fprintf(stderr, "korvel-demo: another Korvel runs in this sandbox\n");
            return 1;
        }
        LinuxPlatform desktop(korvelExecutable);
        const std::filesystem::path bundle = desktop.platform().mainBundle.bundlePath();
        MoveToApplications::System staysPut; // a build tree is no disk image: nothing to offer
        staysPut.bundle = bundle;
        KorvelApp korvel(AppPaths::live(), desktop.platform(), bundle / "Contents/MacOS/KorvelLauncher", staysPut);
        QObject::connect(&instance, &SingleInstance::urlsReceived, &korvel.delegate(), &AppDelegate::open);
        korvel.start(QSystemTrayIcon::isSystemTrayAvailable());
        std::printf("Tray: %s\n",
            QSystemTrayIcon::isSystemTrayAvailable() ? "the desktop has one; Korvel's icon is in it"
                                                     : "none on this desktop; the management window stands in");

        DemoScript script(korvel, korvelExecutable, screenshots);
        int status = 1;
        QTimer::singleShot(0, [&script, &status] { play(script, status); });
        application.exec();
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvel-demo: %s\n", error.what());
        return 1;
    }
}
