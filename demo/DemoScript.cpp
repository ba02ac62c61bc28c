#include "DemoScript.hpp"

#include "app/ui/ContentView.hpp"
#include "app/ui/KorvelApp.hpp"
#include "app/ui/MenuBarItem.hpp"
#include "app/ui/SettingsView.hpp"
#include "app/ui/SidebarRow.hpp"
#include "app/ui/WelcomeView.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <qcoro/qcoroprocess.h>
#include <qcoro/qcorotimer.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string demoLink = "claude://claude.ai/new?q=hello-from-the-korvel-demo";

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int countSessions(const fs::path& dataDir)
{
    int count = 0;
    std::error_code error;
    const fs::path folder = dataDir / "claude-code-sessions";
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file() && name.starts_with("local_") && name.ends_with(".json"))
            ++count;
    }
    return count;
}

std::string accountOf(const fs::path& dataDir)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dataDir / "claude-code-sessions", error))
        return entry.path().filename().string();
    return {};
}

void save(const QPixmap& pixmap, const fs::path& file)
{
    if (pixmap.save(QString::fromStdString(file.string())))
        say("    saved " + file.string());
    else
        say("    could not save " + file.string());
}

} // namespace

DemoScript::DemoScript(KorvelApp& korvel, fs::path korvelExecutable, fs::path screenshots)
    : m_korvel(korvel)
    , m_korvelExecutable(std::move(korvelExecutable))
    , m_screenshots(std::move(screenshots))
{ }

void DemoScript::check(bool ok, const std::string& what)
{
    say(std::string(ok ? "    ok: " : "    FAILED: ") + what);
    if (!ok)
        ++m_failures;
}

QCoro::Task<bool> DemoScript::waitFor(std::string what, std::function<bool()> done, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            check(false, what + " (waited " + std::to_string(timeout.count() / 1000) + " s)");
            co_return false;
        }
        auto pause = QCoro::sleepFor(100ms);
        co_await pause;
    }
    check(true, what);
    co_return true;
}

std::string DemoScript::standInLog(const Profile& profile) const
{
    std::ifstream file(m_korvel.model().paths().dataDir(profile.id) / "standin.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

QCoro::Task<int> DemoScript::run()
{
    AppModel& model = m_korvel.model();
    const AppPaths& paths = model.paths();
    say("Korvel demo — everything below happens in the sandbox, with Korvel's real operations.");
    say("  Claude Desktop (stand-in): " + paths.sourceApp.string() + ", version " +
        model.builder().sourceVersion().value_or("none"));
    say("  its data folder: " + paths.originalDataDir.string() + " (" +
        std::to_string(countSessions(paths.originalDataDir)) + " Claude Code sessions)");
    say("  profile apps go to: " + paths.appsDir.string());

    if (model.showWelcome() && m_korvel.mainWindow()) {
        fs::create_directories(m_screenshots);
        auto shown = QCoro::sleepFor(600ms);
        co_await shown;
        if (QWidget* welcome = m_korvel.mainWindow()->welcomeView())
            save(welcome->grab(), m_screenshots / "welcome.png");
        model.setDidCompleteWelcome(true);
        model.setShowWelcome(false);
    }

    auto creating = createProfiles();
    co_await creating;
    auto opening = openProfiles();
    co_await opening;
    auto syncing = bringSessionsOver();
    co_await syncing;
    auto routing = routeLink();
    co_await routing;
    showStatuses();
    auto shooting = takeScreenshots();
    co_await shooting;
    auto quitting = quitProfileApps();
    co_await quitting;
    say(m_failures == 0 ? "Demo finished: every step worked."
                        : "Demo finished with " + std::to_string(m_failures) + " failed step(s).");
    co_return m_failures == 0 ? 0 : 1;
}

QCoro::Task<> DemoScript::createProfiles()
{
    AppModel& model = m_korvel.model();
    say("\n1. Create “Work”, an empty profile for another account, and build its app");
    auto work = model.createProfile("Work", ProfileColor::Blue, false);
    const auto created = co_await work;
    check(created.has_value(), "profile “Work” created");
    if (created)
        m_work = *created;
    say("    app: " + model.paths().appURL(m_work).string());
    say("    status: " + model.status(m_work).summary());

    say("\n2. Create “Personal” from the current Claude data (the account Claude is signed into moves over)");
    auto personal = model.createProfile("Personal", ProfileColor::Orange, true);
    const auto imported = co_await personal;
    check(imported.has_value(), "profile “Personal” created");
    if (imported)
        m_personal = *imported;
    const fs::path data = model.paths().dataDir(m_personal.id);
    check(fs::exists(data / "Local State"), "“Local State” copied into " + data.string());
    say("    sessions copied: " + std::to_string(countSessions(data)));
    say("    status: " + model.status(m_personal).summary());
    if (const auto& error = model.errorMessage())
        say("    model error: " + *error);
}

QCoro::Task<> DemoScript::openProfiles()
{
    AppModel& model = m_korvel.model();
    say("\n3. Open both profile apps (each starts its launcher, which starts Claude with its own data folder)");
    auto openWork = model.open(m_work);
    co_await openWork;
    auto openPersonal = model.open(m_personal);
    co_await openPersonal;
    auto seen = waitFor("the desktop reports both apps running",
        [&model, this] { return model.running().contains(m_work.id) && model.running().contains(m_personal.id); });
    co_await seen;
    for (const Profile* profile : {&m_work, &m_personal}) {
        std::istringstream lines(standInLog(*profile));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("started"))
                say("    " + profile->name + ": " + line);
        }
    }
}

QCoro::Task<> DemoScript::bringSessionsOver()
{
    AppModel& model = m_korvel.model();
    const fs::path original = model.paths().originalDataDir;
    say("\n4. Sync sessions: a new Claude Code session appears in the main Claude data while the apps run");
    const std::string account = accountOf(original);
    const fs::path session = original / "claude-code-sessions" / account / "local_demo-new-session.json";
    std::ofstream(session) << "{\"sessionId\": \"local_demo-new-session\", \"title\": \"Started during the demo\"}\n";
    auto sync = model.syncSessions();
    co_await sync;
    const auto pending = model.pendingAfterRestart().find(m_personal.id);
    check(pending != model.pendingAfterRestart().end() && pending->second.sessions == 1,
        "“Personal” got the new session, shown after its restart");
    check(!model.pendingAfterRestart().contains(m_work.id), "“Work” (another account) got nothing");
    say("    Personal now holds " + std::to_string(countSessions(model.paths().dataDir(m_personal.id))) + " sessions");
}

QCoro::Task<> DemoScript::routeLink()
{
    AppModel& model = m_korvel.model();
    say("\n5. Route claude:// links to the active profile");
    // Asked again while it is not in front: its window may not have been mapped at the first request.
    auto active = waitFor(
        "“Work” is the active profile (its window came to the front)",
        [&model, this] {
            if (model.activeProfileID() == m_work.id)
                return true;
            if (const auto app = model.runningApp(m_work))
                app->activate();
            return false;
        },
        10s);
    co_await active;
    auto routing = model.setRouteClaudeLinks(true);
    co_await routing;
    check(model.routeClaudeLinks() && model.isLinkRoutingActive(), "Korvel is the default handler of claude://");

    say("    the desktop opens " + demoLink + ": it starts a second Korvel, which hands the link over");
    QProcess second;
    second.start(QString::fromStdString(m_korvelExecutable.string()), {QString::fromStdString(demoLink)});
    auto finished = qCoro(second).waitForFinished(15s);
    co_await finished;
    check(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0, "the second Korvel handed it over");
    const Profile target = model.activeProfileID() == m_work.id ? m_work : m_personal;
    auto received = waitFor("“" + target.name + "” received the link in its running Claude",
        [this, target] { return standInLog(target).find("link " + demoLink) != std::string::npos; });
    co_await received;
}

void DemoScript::showStatuses()
{
    AppModel& model = m_korvel.model();
    say("\n6. Statuses");
    for (const Profile& profile : model.profiles()) {
        say("    " + profile.name + " — " + SidebarRow::subtitle(model, profile) +
            " — app: " + model.status(profile).summary());
    }
    if (const auto& error = model.errorMessage())
        say("    model error: " + *error);
}

QCoro::Task<> DemoScript::takeScreenshots()
{
    AppModel& model = m_korvel.model();
    say("\n7. Screenshots in " + m_screenshots.string());
    fs::create_directories(m_screenshots);
    m_korvel.openMainWindow();
    model.setSelection(m_personal.id);
    auto settle = QCoro::sleepFor(600ms);
    co_await settle;
    save(m_korvel.mainWindow()->grab(), m_screenshots / "management-window.png");

    MenuBarItem* tray = m_korvel.menuBarItem();
    QMenu& menu = tray->menu();
    const QRect icon = tray->trayIcon().geometry();
    menu.popup(icon.isValid() ? icon.bottomLeft() : QPoint(900, 30));
    auto shown = QCoro::sleepFor(400ms);
    co_await shown;
    save(menu.grab(), m_screenshots / "tray-menu.png");
    if (QScreen* screen = QGuiApplication::primaryScreen())
        save(screen->grabWindow(0), m_screenshots / "desktop.png");
    menu.hide();

    m_korvel.openSettings();
    auto drawn = QCoro::sleepFor(400ms);
    co_await drawn;
    save(m_korvel.settingsWindow()->grab(), m_screenshots / "settings.png");
}

QCoro::Task<> DemoScript::quitProfileApps()
{
    AppModel& model = m_korvel.model();
    say("\n8. Quit the profile apps");
    for (const Profile* profile : {&m_work, &m_personal}) {
        if (const auto app = model.runningApp(*profile))
            app->terminate();
    }
    auto gone = waitFor("both apps quit",
        [&model, this] { return !model.running().contains(m_work.id) && !model.running().contains(m_personal.id); });
    co_await gone;
}

} // namespace korvel
