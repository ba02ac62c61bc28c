#include "app/model/AppModel.hpp"

#include "app/model/AppNameCollision.hpp"
#include "app/model/BackgroundJob.hpp"

#include "app/model/ModelGone.hpp"
#include "app/model/MoveToApplications.hpp"
#include "app/model/SessionSync.hpp"
#include "core/building/CloneError.hpp"
#include "core/building/Wording.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/model/Timestamp.hpp"
#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"
#include "core/support/FileLock.hpp"
#include "core/support/FolderSize.hpp"
#include "core/support/UnicodeText.hpp"
#include "core/transfer/ClaudeCodeLauncher.hpp"
#include "core/transfer/DataImporter.hpp"
#include <QThreadPool>

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

// Every task is named before it is awaited (`auto t = f(); co_await t;`): g++ 12 destroys temporaries of a
// co_await expression twice.

namespace korvel {
namespace {

using namespace std::chrono_literals;

constexpr auto pollInterval = 100ms;
constexpr int pollsBeforeRestart = 100;
constexpr int pollsBeforeDelete = 50;
constexpr auto profileListLockWait = 2s;

std::optional<Uuid> profileIDOf(const std::shared_ptr<RunningApplication>& application)
{
    if (!application)
        return std::nullopt;
    const auto identifier = application->bundleIdentifier();
    return identifier ? Profile::profileIDFromBundleIdentifier(*identifier) : std::nullopt;
}

bool isRunning(const std::shared_ptr<RunningApplication>& application)
{
    return application && !application->isTerminated();
}

bool sameLocation(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    const auto resolvedA = std::filesystem::weakly_canonical(a, error);
    if (error)
        return false;
    const auto resolvedB = std::filesystem::weakly_canonical(b, error);
    return !error && resolvedA == resolvedB;
}

// A name for the set-aside copy of an unreadable profile list: "profiles.json.unreadable-20261205T160519Z".
std::filesystem::path asideName(const std::filesystem::path& file)
{
    std::string stamp = Timestamp::now().iso8601();
    std::erase_if(stamp, [](char c) { return c == '-' || c == ':'; });
    std::filesystem::path aside = file.string() + ".unreadable-" + stamp;
    std::error_code error;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(aside, error)); ++n)
        aside = file.string() + ".unreadable-" + stamp + "-" + std::to_string(n);
    return aside;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

std::string leftOutMessage(const std::vector<std::string>& leftOut)
{
    const bool one = leftOut.size() == 1;
    return "Korvel couldn’t read " + (one ? std::string("one profile") : std::to_string(leftOut.size()) + " profiles") +
        " in your profile list and left " + (one ? "it" : "them") + " out: " + joined(leftOut) +
        ". The list stays as it is until your next change, which keeps a copy of it.";
}

// Lets a system request run to its end without anyone waiting for its outcome.
QCoro::Task<> ignoringOutcome(QCoro::Task<> task)
{
    try {
        co_await task;
    } catch (...) { }
}

} // namespace

template<typename Make>
void AppModel::startTask(Make make, bool counted)
{
    // Queued on the model, so it starts after the current work and never once the model is gone; the coroutine
    // keeps itself alive after its task object is dropped.
    if (!counted) {
        QMetaObject::invokeMethod(
            this, [make = std::move(make)]() mutable { make(); }, Qt::QueuedConnection);
        return;
    }
    ++m_startedTasks;
    QMetaObject::invokeMethod(
        this, [this, make = std::move(make)]() mutable { this->counted(make()); }, Qt::QueuedConnection);
}

QCoro::Task<> AppModel::counted(QCoro::Task<> task)
{
    const QPointer<AppModel> self(this);
    try {
        co_await task;
    } catch (...) {
        // Only ModelGone: operations never throw.
    }
    if (self)
        self->taskEnded();
}

void AppModel::taskEnded()
{
    --m_startedTasks;
    announceIdleLater();
}

bool AppModel::isIdle() const
{
    return m_startedTasks == 0 && m_busy.empty() && !m_isSyncingSessions;
}

// From the event loop, so that whatever the ending operation does next (a status refresh starting a sync)
// happens first.
void AppModel::announceIdleLater()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isIdle())
                emit idle();
        },
        Qt::QueuedConnection);
}

// Start-up

AppModel::AppModel(AppPaths paths, Platform platform, std::filesystem::path launcherURL, QObject* parent)
    : AppModel(std::move(paths), platform, std::move(launcherURL), Options {}, parent)
{ }

AppModel::AppModel(
    AppPaths paths, Platform platform, std::filesystem::path launcherURL, Options options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_paths(std::move(paths))
    , m_platform(platform)
    , m_store(m_paths.profilesFile())
    , m_builder(m_paths, std::move(launcherURL))
{
    UserDefaults& defaults = m_platform.userDefaults;
    defaults.registerDefault(autoUpdateKey, true);
    m_autoUpdateProfileApps = defaults.boolForKey(autoUpdateKey);
    m_didCompleteWelcome = defaults.boolForKey(didCompleteWelcomeKey);
    m_routeClaudeLinks = defaults.boolForKey(routeClaudeLinksKey);
    m_bringMcpServers = defaults.boolForKey(bringMcpServersKey);
    const auto identity = TaskBarIdentities::fromRawValue(defaults.stringForKey(taskBarIdentityKey).value_or(""));
    // The relay in a Wayland session: sharp native windows, each profile its own app, and the relays tell Korvel
    // which is in front. An X11 session has nothing to relay.
    m_builder.taskBarIdentity = identity.value_or(
        Workspace::isWayland(m_platform.workspace.session()) ? TaskBarIdentity::Relay : TaskBarIdentity::XWayland);

    m_switcherShortcut.keys = defaults.stringForKey(switcherShortcutKey).value_or(defaultSwitcherShortcut);

    bool renumbered = false;
    try {
        ProfileStore::Contents stored = m_store.read();
        m_profiles = std::move(stored.profiles);
        renumbered = stored.renumbered;
        if (!stored.leftOut.empty()) {
            m_profileListUnreadable = true;
            m_leftOutProfiles = std::move(stored.leftOut);
            m_errorMessage = leftOutMessage(m_leftOutProfiles);
        }
    } catch (const std::exception& error) {
        m_profileListUnreadable = true;
        m_errorMessage = std::string("Couldn’t read your profiles: ") + error.what();
    }
    if (!m_profiles.empty())
        m_selection = m_profiles.front().id;
    m_showWelcome = !m_didCompleteWelcome && m_profiles.empty();

    observeWorkspace();
    if (m_options.bindSwitcherShortcut) {
        const QPointer<AppModel> self(this);
        m_platform.globalShortcut.setActivationHandler([self] {
            if (self)
                self->showSwitcher();
        });
        bindSwitcherShortcut();
    }
    if (m_options.enableLaunchAtLoginOnFirstRun)
        enableLaunchAtLoginOnFirstRun();

    m_sessionSyncTimer.setInterval(sessionSyncIntervalMs);
    m_sessionSyncTimer.setSingleShot(false);
    connect(&m_sessionSyncTimer, &QTimer::timeout, this, &AppModel::sessionSyncTick);
    refreshRunning();
    if (!m_options.maintain) {
        m_statuses = statusesOnDisk();
        return;
    }
    if (renumbered && !m_profileListUnreadable)
        changeProfiles([](std::vector<Profile>&) {});
    recoverInterruptedImports();
    m_sessionSyncTimer.start();
    // Hidden bundles of builds that a crash or a kill interrupted (also of profiles deleted since) only take space.
    QThreadPool::globalInstance()->start([builder = m_builder] { builder.removeLeftovers(); });
    refreshStatuses();
    updateOutdatedApps();
    maybeRepairLinkHandler();
}

AppModel::~AppModel() = default;

void AppModel::enableLaunchAtLoginOnFirstRun()
{
    UserDefaults& defaults = m_platform.userDefaults;
    if (defaults.boolForKey(launchAtLoginMarkerKey))
        return;
    const std::filesystem::path home = QDir::homePath().toStdString();
    if (!MoveToApplications::isInApplications(m_platform.mainBundle.bundlePath(), home))
        return;
    defaults.setBool(launchAtLoginMarkerKey, true);
    try {
        if (!m_platform.loginItem.isEnabled())
            m_platform.loginItem.enable();
    } catch (const std::exception&) {
        // The first-run step is a courtesy; the user can still turn it on in the settings.
    }
}

// State

void AppModel::setSelection(std::optional<Uuid> selection)
{
    m_selection = selection;
    announce();
}

void AppModel::setErrorMessage(std::optional<std::string> message)
{
    m_errorMessage = std::move(message);
    announce();
}

void AppModel::setShowWelcome(bool show)
{
    m_showWelcome = show;
    announce();
}

void AppModel::setShowNewProfile(bool show)
{
    m_showNewProfile = show;
    announce();
}

void AppModel::setAutoUpdateProfileApps(bool enabled)
{
    m_autoUpdateProfileApps = enabled;
    m_platform.userDefaults.setBool(autoUpdateKey, enabled);
    announce();
}

void AppModel::setDidCompleteWelcome(bool done)
{
    m_didCompleteWelcome = done;
    m_platform.userDefaults.setBool(didCompleteWelcomeKey, done);
    announce();
}

void AppModel::setBringMcpServers(bool enabled)
{
    m_bringMcpServers = enabled;
    m_platform.userDefaults.setBool(bringMcpServersKey, enabled);
    announce();
    // Without a running profile app the timer brings nothing; the servers should not wait for one.
    if (enabled && m_options.maintain)
        startTask([this] { return syncSessions(); });
}

void AppModel::setTaskBarIdentity(TaskBarIdentity identity)
{
    m_platform.userDefaults.setString(taskBarIdentityKey, std::string(TaskBarIdentities::rawValue(identity)));
    if (identity == m_builder.taskBarIdentity)
        return;
    m_builder.taskBarIdentity = identity;
    announce();
    if (!m_options.maintain)
        return;
    refreshStatuses();
    updateOutdatedApps();
}

void AppModel::setSwitcherShortcut(std::string keys)
{
    m_platform.userDefaults.setString(switcherShortcutKey, keys);
    m_switcherShortcut.keys = std::move(keys);
    if (m_options.bindSwitcherShortcut)
        bindSwitcherShortcut();
    else
        announce();
}

void AppModel::bindSwitcherShortcut()
{
    SwitcherShortcut& shortcut = m_switcherShortcut;
    shortcut.failure.clear();
    if (!m_platform.globalShortcut.isAvailable()) {
        shortcut.state = SwitcherShortcut::State::Unavailable;
        announce();
        return;
    }
    shortcut.state = shortcut.keys.empty() ? SwitcherShortcut::State::None : SwitcherShortcut::State::Binding;
    announce();
    if (shortcut.keys.empty() && m_shortcutRequests == 0)
        return; // nothing of this process's to unbind
    const int request = ++m_shortcutRequests;
    // Not counted: a portal may wait for the user to agree, and the model is idle meanwhile.
    startTask([this, keys = shortcut.keys, request] { return bindShortcut(keys, request); }, false);
}

QCoro::Task<> AppModel::bindShortcut(std::string keys, int request)
{
    std::optional<std::string> failure;
    try {
        auto binding = whileAlive(this, m_platform.globalShortcut.bind(keys));
        co_await binding;
    } catch (const ModelGone&) {
        co_return;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (request != m_shortcutRequests || keys.empty())
        co_return; // a later choice decides; unbinding has nothing to tell
    m_switcherShortcut.state = failure ? SwitcherShortcut::State::Failed : SwitcherShortcut::State::Bound;
    m_switcherShortcut.failure = failure.value_or("");
    announce();
}

// Native Wayland windows: no other program may raise them, and the task bar shows them under Claude's icon.
std::string AppModel::cannotRaise(const Profile& profile) const
{
    std::string message = "Couldn’t bring " + profile.appDisplayName() +
        " forward: its windows are native Wayland windows, which Korvel can’t raise. Switch to it in the task bar";
    if (session() == Workspace::Session::WaylandWithXWayland)
        message += ", or choose “Through XWayland” for “Give each profile its own task-bar icon” in Korvel’s "
                   "settings and open it again";
    return message + ".";
}

void AppModel::fail(std::string message, const std::optional<Uuid>& about)
{
    m_errorMessage = std::move(message);
    announce();
    emit errorOccurred(
        QString::fromStdString(*m_errorMessage), about ? QString::fromStdString(about->toString()) : QString());
}

void AppModel::warn(std::string message)
{
    m_errorMessage = std::move(message);
    announce();
    emit warned(QString::fromStdString(*m_errorMessage));
}

void AppModel::setBusy(const Uuid& id, std::optional<std::string> message)
{
    if (message) {
        m_busy[id] = std::move(*message);
    } else {
        m_busy.erase(id);
        announceIdleLater();
    }
    announce();
}

std::optional<Profile> AppModel::profile(const std::optional<Uuid>& id) const
{
    if (!id)
        return std::nullopt;
    const auto it =
        std::find_if(m_profiles.begin(), m_profiles.end(), [&id](const Profile& profile) { return profile.id == *id; });
    return it == m_profiles.end() ? std::nullopt : std::optional<Profile>(*it);
}

std::optional<Profile> AppModel::activeProfile() const
{
    return profile(m_activeProfileID);
}

CloneStatus AppModel::status(const Profile& profile) const
{
    const auto it = m_statuses.find(profile.id);
    return it == m_statuses.end() ? CloneStatus::notBuilt() : it->second;
}

std::map<Uuid, CloneStatus> AppModel::statusesOnDisk() const
{
    std::map<Uuid, CloneStatus> statuses;
    for (const Profile& profile : m_profiles)
        statuses.insert_or_assign(profile.id, m_builder.status(profile));
    return statuses;
}

void AppModel::refreshStatuses()
{
    m_statuses = statusesOnDisk();
    announce();
    startTask([this] { return syncSessions(); });
}

bool AppModel::changeProfiles(const ProfileStore::Change& change)
{
    try {
        // The window must not hang behind a long command; its change is refused instead.
        const FileLock lock(m_store.lockURL(), profileListLockWait);
        if (m_profileListUnreadable)
            setAsideUnreadableProfileList();
        m_profiles = m_store.update(change);
    } catch (const std::exception& error) {
        fail(std::string("Couldn’t save profiles: ") + error.what());
        return false;
    }
    announce();
    listProfilesOnDesktop();
    return true;
}

void AppModel::listProfilesOnDesktop()
{
    std::vector<DesktopActions::Profile> listed;
    for (const Profile& profile : m_profiles)
        listed.push_back({profile.id.toString(), profile.appDisplayName(), profile.bundleIdentifier()});
    try {
        m_platform.desktopActions.setProfiles(std::move(listed));
    } catch (const std::exception& error) {
        qWarning("Couldn’t list the profiles in Korvel’s desktop entry: %s", error.what());
    }
}

// The list that did not load in full at start would be lost to the first save; keep it beside the new one, which
// starts from the profiles that did load. Not when another process has replaced it meanwhile by one that reads.
void AppModel::setAsideUnreadableProfileList()
{
    const std::filesystem::path& file = m_store.fileURL;
    try {
        if (m_store.read().leftOut.empty()) {
            m_profileListUnreadable = false;
            return;
        }
    } catch (const FileError&) {
        // still unreadable
    }
    const std::filesystem::path aside = asideName(file);
    if (std::rename(file.c_str(), aside.c_str()) != 0)
        FileError::throwWrite(aside, errno);
    m_profileListUnreadable = false;
    m_store.save(m_profiles);
    std::string notice = "Korvel couldn’t read your earlier profile list and kept it as “" + aside.filename().string() +
        "” in " + aside.parent_path().string() + ".";
    if (!m_leftOutProfiles.empty())
        notice += " It holds what was left out: " + joined(m_leftOutProfiles) + ".";
    m_leftOutProfiles.clear();
    warn(notice);
}

// An import that broke off left part of Claude's data, perhaps its lock links too, which would hand the profile
// app over to the running Claude: that goes, and the user chooses what comes instead. Not while another process
// holds the list's lock: a command importing right now leaves the same marker. The question stays on disk until it
// is answered, here or by another Korvel process.
void AppModel::recoverInterruptedImports()
{
    const bool anyMarker = std::any_of(m_profiles.begin(), m_profiles.end(),
        [this](const Profile& profile) { return DataImporter::wasInterrupted(m_paths.dataDir(profile.id)); });
    std::optional<FileLock> lock;
    try {
        if (anyMarker)
            lock.emplace(m_store.lockURL(), std::chrono::milliseconds(0));
    } catch (const FileError&) {
        return;
    }
    for (const Profile& profile : m_profiles) {
        const std::filesystem::path data = m_paths.dataDir(profile.id);
        if (!DataImporter::wasInterrupted(data))
            continue;
        try {
            DataImporter::discardInterrupted(data);
        } catch (const std::exception& error) {
            m_errorMessage = "Importing your Claude data into “" + profile.name +
                "” was interrupted, and Korvel couldn’t remove what it had copied: " + error.what();
        }
    }
    askAboutInterruptedImport();
}

// One question at a time: the first profile whose import broke off and that nobody has decided about.
void AppModel::askAboutInterruptedImport()
{
    for (const Profile& profile : m_profiles) {
        if (!DataImporter::awaitsDecision(m_paths.dataDir(profile.id)))
            continue;
        m_interruptedImport = profile.id;
        m_errorMessage = "Importing your Claude data into “" + profile.name +
            "” was interrupted. Korvel removed the part it had copied, so the profile starts empty. Import your "
            "Claude data again?";
        return;
    }
}

bool AppModel::awaitsImportDecision(const Profile& profile) const
{
    return DataImporter::awaitsDecision(m_paths.dataDir(profile.id));
}

// The question about `profile`'s import is answered: it goes, from the disk too, and the next one is asked.
bool AppModel::answerImportQuestion(const Profile& profile)
{
    try {
        DataImporter::decided(m_paths.dataDir(profile.id));
    } catch (const std::exception& error) {
        fail(std::string("Couldn’t store your answer: ") + error.what(), profile.id);
        return false;
    }
    if (m_interruptedImport == profile.id) {
        m_interruptedImport.reset();
        m_errorMessage.reset();
        askAboutInterruptedImport();
    }
    announce();
    return true;
}

QCoro::Task<> AppModel::importAgain()
{
    const auto profile = this->profile(m_interruptedImport);
    if (!profile) {
        keepEmptyData();
        co_return;
    }
    auto import = importAgain(*profile);
    co_await import;
}

QCoro::Task<> AppModel::importAgain(Profile profile)
{
    if (m_running.contains(profile.id)) {
        fail("Quit " + profile.appDisplayName() + " before importing your Claude data again.", profile.id);
        co_return;
    }
    if (!answerImportQuestion(profile))
        co_return;
    auto import = importOriginalData(profile);
    co_await import;
}

void AppModel::keepEmptyData()
{
    if (const auto profile = this->profile(m_interruptedImport)) {
        keepEmptyData(*profile);
        return;
    }
    m_interruptedImport.reset();
    m_errorMessage.reset();
    announce();
}

void AppModel::keepEmptyData(const Profile& profile)
{
    answerImportQuestion(profile);
}

bool AppModel::launchAtLogin() const
{
    return m_platform.loginItem.isEnabled();
}

void AppModel::setLaunchAtLogin(bool enabled)
{
    try {
        if (enabled)
            m_platform.loginItem.enable();
        else
            m_platform.loginItem.disable();
    } catch (const std::exception& error) {
        m_errorMessage = std::string("Couldn’t change Launch at Login: ") + error.what();
    }
    announce();
}

QCoro::Task<> AppModel::sleep(std::chrono::milliseconds duration)
{
    auto wait = whileAlive(this, m_platform.clock.sleep(duration));
    co_await wait;
}

// Profile operations

std::optional<std::string> AppModel::creationBlocked() const
{
    if (m_builder.sourceVersion())
        return std::nullopt;
    return Wording::text(Wording::Text::ClaudeMissingWarning);
}

bool AppModel::hasImportableData() const
{
    return m_builder.sourceVersion() && DataImporter::hasImportableData(m_paths.originalDataDir);
}

QCoro::Task<std::optional<Profile>> AppModel::createProfile(
    std::string name, ProfileColor color, bool importOriginalData)
{
    const std::string trimmed = UnicodeText::trimWhiteSpace(name);
    if (trimmed.empty() || refusedAsAppName(trimmed))
        co_return std::nullopt;
    // Refused before the list changes: a profile without an app would only fail to build.
    if (const auto blocked = creationBlocked()) {
        fail("Couldn’t create the profile: " + *blocked);
        co_return std::nullopt;
    }
    // Whole seconds, as the list stores them: the profile is the same before and after a reload.
    const Profile profile {Uuid::random(), trimmed, color, Timestamp {std::floor(Timestamp::now().secondsSince1970)}};
    if (!changeProfiles([&profile](std::vector<Profile>& profiles) { profiles.push_back(profile); }))
        co_return std::nullopt;
    m_selection = profile.id;
    announce();
    if (importOriginalData) {
        auto import = this->importOriginalData(profile);
        co_await import;
    }
    auto build = rebuild(profile);
    co_await build;
    co_return profile;
}

QCoro::Task<> AppModel::importOriginalData(Profile profile)
{
    setBusy(profile.id, "Importing your Claude data…");
    const std::filesystem::path from = m_paths.originalDataDir;
    const std::filesystem::path to = m_paths.dataDir(profile.id);
    std::optional<std::string> failure;
    try {
        auto copy = runInBackground(this, [from, to] { DataImporter::importData(from, to); });
        co_await copy;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure)
        fail("Import failed: " + *failure + ". Your original Claude data was not changed.", profile.id);
    setBusy(profile.id, std::nullopt);
}

QCoro::Task<> AppModel::rebuild(Profile profile)
{
    if (m_busy.contains(profile.id))
        co_return;
    if (m_running.contains(profile.id)) {
        fail("Quit " + profile.appDisplayName() + " before rebuilding its app.", profile.id);
        co_return;
    }
    // Refused at entry, but the list may have been edited by hand: the app's property list and desktop entry
    // would not hold it.
    if (const auto problem = Profile::nameProblem(profile.name)) {
        fail("Couldn’t create the app for " + profile.name + ": " + *problem + " Rename the profile.", profile.id);
        co_return;
    }
    if (const auto owner = AppNameCollision::earlierOwner(m_profiles, profile)) {
        fail("Couldn’t create the app for " + profile.name + ": the profile “" + owner->name +
                "” already has an app named “" + profile.appDisplayName() + "”. Rename one of them.",
            profile.id);
        co_return;
    }
    setBusy(profile.id, "Creating app…");
    std::optional<std::string> failure;
    try {
        auto build = buildApp(profile);
        co_await build;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure) {
        fail("Couldn’t create the app for " + profile.name + ": " + *failure, profile.id);
        setBusy(profile.id, std::nullopt);
        refreshStatuses();
        co_return;
    }
    setBusy(profile.id, std::nullopt);
    refreshStatuses();
    listProfilesOnDesktop(); // with the badge icon the build installed
    // Renamed or recoloured while the build ran: build again for what the profile is now.
    const auto current = this->profile(profile.id);
    if (!current || *current == profile)
        co_return;
    if (status(*current).needsBuild()) {
        auto again = rebuild(*current);
        co_await again;
    }
}

QCoro::Task<> AppModel::buildApp(Profile profile)
{
    const QPointer<AppModel> self(this);
    const QString id = QString::fromStdString(profile.id.toString());
    const CloneBuilder::Progress progress = [self, id](std::string_view step) {
        const QString text = QString::fromUtf8(step.data(), static_cast<qsizetype>(step.size()));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, id, text] {
                if (self)
                    emit self->buildStep(id, text);
            },
            Qt::QueuedConnection);
    };
    const CloneBuilder builder = m_builder;
    auto build = runInBackground(this, [builder, profile, progress] { builder.build(profile, progress); });
    co_await build;
}

QCoro::Task<> AppModel::open(Profile profile)
{
    if (const auto application = runningApp(profile)) {
        application->unhide();
        if (!application->activate())
            fail(cannotRaise(profile), profile.id);
        co_return;
    }
    if (m_busy.contains(profile.id))
        co_return;
    if (m_builder.status(profile).needsBuild()) {
        auto build = rebuild(profile);
        co_await build;
    }

    const CloneStatus status = m_builder.status(profile);
    if (status.kind() == CloneStatus::Kind::SourceMissing) {
        fail(CloneError::sourceMissing(m_paths.sourceApp).description(), profile.id);
        co_return;
    }
    if (status.kind() != CloneStatus::Kind::Ready)
        co_return; // the failed build has said why
    auto sync = syncSessions();
    co_await sync;
    std::optional<std::string> failure;
    try {
        auto opening = whileAlive(this, m_platform.workspace.openApplication(m_paths.appURL(profile)));
        co_await opening;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure)
        fail("Couldn’t open " + profile.appDisplayName() + ": " + *failure, profile.id);
}

QCoro::Task<> AppModel::openAll()
{
    const std::vector<Profile> profiles = m_profiles;
    for (const Profile& profile : profiles) {
        auto opening = open(profile);
        co_await opening;
    }
}

QCoro::Task<bool> AppModel::waitUntilQuit(std::shared_ptr<RunningApplication> application, int polls)
{
    application->terminate();
    for (int poll = 0; poll < polls; ++poll) {
        if (application->isTerminated())
            co_return true;
        auto wait = sleep(pollInterval);
        co_await wait;
    }
    co_return application->isTerminated();
}

QCoro::Task<> AppModel::restart(Profile profile)
{
    if (const auto application = runningApp(profile)) {
        auto quit = waitUntilQuit(application, pollsBeforeRestart);
        if (!co_await quit) {
            fail(profile.appDisplayName() + " didn’t quit. Quit it, then open it again.", profile.id);
            co_return;
        }
        // The quit may be seen before the workspace reports it; the rebuild in open must not take the app
        // for still running.
        refreshRunning();
    }
    auto opening = open(profile);
    co_await opening;
}

QCoro::Task<std::uintmax_t> AppModel::dataSize(Profile profile)
{
    auto measuring = runInBackground(this, [folder = m_paths.dataDir(profile.id)] { return FolderSize::of(folder); });
    const std::uintmax_t size = co_await measuring;
    co_return size;
}

QCoro::Task<> AppModel::deleteProfile(Profile profile, bool moveDataToTrash)
{
    if (const auto application = runningApp(profile)) {
        auto quit = waitUntilQuit(application, pollsBeforeDelete);
        if (!co_await quit) {
            fail("Quit " + profile.appDisplayName() + " first, then delete the profile.", profile.id);
            co_return;
        }
    }
    try {
        m_builder.removeInstalledApps(profile.id);
    } catch (const std::exception& error) {
        fail("Couldn’t fully remove " + profile.name + ": " + error.what(), profile.id);
        co_return;
    }
    const std::filesystem::path folder = m_paths.profileDir(profile.id);
    std::error_code error;
    if (moveDataToTrash && std::filesystem::exists(std::filesystem::symlink_status(folder, error))) {
        std::optional<std::string> failure;
        try {
            auto trashing = whileAlive(this, m_platform.trash.moveToTrash(folder));
            co_await trashing;
        } catch (const std::exception& trashError) {
            failure = trashError.what();
        }
        if (failure)
            fail("Couldn’t fully remove " + profile.name + ": " + *failure, profile.id);
    }
    changeProfiles([&profile](std::vector<Profile>& profiles) {
        std::erase_if(profiles, [&profile](const Profile& entry) { return entry.id == profile.id; });
    });
    if (m_selection == profile.id)
        m_selection = m_profiles.empty() ? std::nullopt : std::optional<Uuid>(m_profiles.front().id);
    if (m_activeProfileID == profile.id)
        m_activeProfileID.reset();
    announce();
    refreshStatuses();
}

bool AppModel::refusedAsAppName(const std::string& name)
{
    // Refused as it is entered: a build would only fail once the profile exists.
    if (const auto problem = Profile::nameProblem(name)) {
        fail(*problem);
        return true;
    }
    if (CloneBuilder::appNameFits(Profile {Uuid(), name, ProfileColor::Orange, Timestamp {}}))
        return false;
    fail("The name “" + name + "” is too long: its app’s name can’t be a file name. Choose a shorter name.");
    return true;
}

void AppModel::update(const Profile& profile, std::optional<std::string> name, std::optional<ProfileColor> color)
{
    const auto current = this->profile(profile.id);
    if (!current)
        return;
    Profile wanted = *current;
    if (name) {
        const std::string trimmed = UnicodeText::trimWhiteSpace(*name);
        if (trimmed.empty() || refusedAsAppName(trimmed))
            return;
        wanted.name = trimmed;
    }
    if (color)
        wanted.color = *color;
    if (wanted == profile)
        return;
    const bool stored = changeProfiles([&wanted](std::vector<Profile>& profiles) {
        for (Profile& entry : profiles) {
            if (entry.id == wanted.id)
                entry = wanted;
        }
    });
    // Gone when another process deleted it meanwhile.
    const auto updated = this->profile(profile.id);
    if (!stored || !updated)
        return;
    refreshStatuses();
    if (m_running.contains(updated->id))
        return; // rebuilt when its app quits
    startTask([this, updated = *updated] { return rebuild(updated); });
}

void AppModel::moveProfiles(const std::set<size_t>& fromOffsets, size_t toOffset)
{
    // By ID, so that the move applies to the list as stored now: the moved profiles go before the first one
    // from `toOffset` on that stays where it is, or to the end.
    std::vector<Uuid> moved;
    std::optional<Uuid> before;
    for (size_t i = 0; i < m_profiles.size(); ++i) {
        if (fromOffsets.contains(i))
            moved.push_back(m_profiles[i].id);
        else if (i >= toOffset && !before)
            before = m_profiles[i].id;
    }
    changeProfiles([&moved, &before](std::vector<Profile>& profiles) {
        std::vector<Profile> taken;
        std::vector<Profile> kept;
        for (const Uuid& id : moved) {
            const auto it = std::find_if(
                profiles.begin(), profiles.end(), [&id](const Profile& profile) { return profile.id == id; });
            if (it != profiles.end())
                taken.push_back(*it);
        }
        for (const Profile& profile : profiles) {
            if (std::find(moved.begin(), moved.end(), profile.id) == moved.end())
                kept.push_back(profile);
        }
        const auto at = std::find_if(
            kept.begin(), kept.end(), [&before](const Profile& profile) { return before && profile.id == *before; });
        kept.insert(at, taken.begin(), taken.end());
        profiles = std::move(kept);
    });
}

void AppModel::revealData(const Profile& profile)
{
    const std::filesystem::path folder = m_paths.dataDir(profile.id);
    try {
        Directories::create(folder, 0700);
    } catch (const std::exception&) {
        // The file viewer then shows what it can.
    }
    reveal(folder);
}

void AppModel::revealApp(const Profile& profile)
{
    reveal(appLocation(profile));
}

void AppModel::reveal(const std::filesystem::path& item)
{
    try {
        m_platform.fileViewer.reveal(item);
    } catch (const std::exception& error) {
        fail("Couldn’t show “" + item.string() + "”: " + error.what());
    }
}

std::filesystem::path AppModel::appLocation(const Profile& profile) const
{
    const std::filesystem::path named = m_paths.appURL(profile);
    std::error_code error;
    if (std::filesystem::exists(named, error))
        return named;
    const auto installed = m_builder.installedApps();
    if (const auto apps = installed.find(profile.id); apps != installed.end() && !apps->second.empty())
        return apps->second.front();
    return named;
}

void AppModel::openClaudeCode(const Profile& profile)
{
    if (const auto commandFile = writeClaudeCodeScript(profile))
        m_platform.terminal.openCommandFile(*commandFile);
}

std::optional<std::filesystem::path> AppModel::writeClaudeCodeScript(const Profile& profile)
{
    try {
        return ClaudeCodeLauncher::writeScript(
            profile.name, m_paths.claudeCodeConfigDir(profile.id), m_paths.profileDir(profile.id));
    } catch (const std::exception& error) {
        fail(std::string("Couldn’t open Claude Code: ") + error.what(), profile.id);
        return std::nullopt;
    }
}

void AppModel::copyClaudeCodeExport(const Profile& profile)
{
    m_platform.pasteboard.setText(claudeCodeExportLine(profile));
}

std::string AppModel::claudeCodeExportLine(const Profile& profile) const
{
    return ClaudeCodeLauncher::exportLine(m_paths.claudeCodeConfigDir(profile.id));
}

std::shared_ptr<RunningApplication> AppModel::runningApp(const Profile& profile) const
{
    const std::string identifier = profile.bundleIdentifier();
    for (const auto& application : m_platform.workspace.runningApplications()) {
        if (isRunning(application) && application->bundleIdentifier() == identifier)
            return application;
    }
    return nullptr;
}

void AppModel::quitOriginalClaude()
{
    for (const auto& application : m_platform.workspace.runningApplications()) {
        if (isRunning(application) && application->bundleIdentifier() == ClaudeDesktop::bundleIdentifier)
            application->terminate();
    }
}

// Workspace observation

void AppModel::observeWorkspace()
{
    const QPointer<AppModel> self(this);
    for (const auto event : {Workspace::Event::DidLaunchApplication, Workspace::Event::DidTerminateApplication}) {
        m_platform.workspace.observe(event, [self, event](const std::shared_ptr<RunningApplication>& application) {
            if (self)
                self->launchedOrTerminated(event, application);
        });
    }
    m_platform.workspace.observe(
        Workspace::Event::DidActivateApplication, [self](const std::shared_ptr<RunningApplication>& application) {
            if (self)
                self->activated(application);
        });
    // A window nobody can attribute has the focus (a native one in a Wayland session): the profile last in front
    // may not be any more, and a link must not go to it on a guess.
    m_platform.workspace.observe(
        Workspace::Event::FrontmostUnknown, [self](const std::shared_ptr<RunningApplication>&) {
            if (self && self->m_activeProfileID) {
                self->m_activeProfileID.reset();
                self->announce();
            }
        });
    m_platform.ownApplication.observeDidBecomeActive([self] {
        if (self)
            self->becameActive();
    });
}

void AppModel::refreshRunning()
{
    std::set<Uuid> running;
    for (const auto& application : m_platform.workspace.runningApplications()) {
        if (const auto id = profileIDOf(application); id && isRunning(application))
            running.insert(*id);
    }
    m_running = std::move(running);
    if (const auto front = profileIDOf(m_platform.workspace.frontmostApplication()))
        m_activeProfileID = *front;
    announce();
}

void AppModel::launchedOrTerminated(Workspace::Event event, const std::shared_ptr<RunningApplication>& application)
{
    refreshRunning();
    const auto id = profileIDOf(application);
    if (!id)
        return;
    if (event == Workspace::Event::DidLaunchApplication) {
        m_lastLaunchedProfileID = *id;
        if (m_options.repairLinkHandler)
            startTask([this] { return recheckLinkHandlerAfterLaunch(); }, false);
        return;
    }
    m_pendingAfterRestart.erase(*id);
    announce();
    refreshStatuses();
    const auto profile = this->profile(*id);
    if (profile && m_autoUpdateProfileApps && status(*profile).needsBuild())
        rebuildIfNameIsFree(*profile);
}

void AppModel::activated(const std::shared_ptr<RunningApplication>& application)
{
    const auto identifier = application ? application->bundleIdentifier() : std::nullopt;
    if (!identifier)
        return;
    if (const auto id = Profile::profileIDFromBundleIdentifier(*identifier); id && profile(*id)) {
        m_activeProfileID = *id;
        announce();
        maybeRepairLinkHandler();
    } else if (*identifier == ClaudeDesktop::bundleIdentifier) {
        m_activeProfileID.reset();
        announce();
    }
}

void AppModel::becameActive()
{
    refreshStatuses();
    updateOutdatedApps();
}

// Automatic rebuilds

// Automatic rebuilds leave a profile alone whose app name an earlier profile already has: building it would
// replace that profile's app, whose next automatic rebuild would replace this one, forever.
void AppModel::rebuildIfNameIsFree(const Profile& profile)
{
    if (AppNameCollision::earlierOwner(m_profiles, profile))
        return;
    startTask([this, profile] { return rebuild(profile); });
}

void AppModel::updateOutdatedApps()
{
    if (!m_autoUpdateProfileApps)
        return;
    for (const Profile& profile : m_profiles) {
        if (m_running.contains(profile.id) || m_busy.contains(profile.id))
            continue;
        const auto status = m_statuses.find(profile.id);
        if (status == m_statuses.end())
            continue;
        const auto kind = status->second.kind();
        if (kind == CloneStatus::Kind::Outdated || kind == CloneStatus::Kind::Damaged)
            rebuildIfNameIsFree(profile);
    }
}

// Session sync

void AppModel::sessionSyncTick()
{
    if (!m_running.empty())
        startTask([this] { return syncSessions(); });
}

QCoro::Task<> AppModel::syncSessions()
{
    if (m_isSyncingSessions)
        co_return;
    m_isSyncingSessions = true;
    announce();
    std::vector<SessionSync::Item> items;
    items.reserve(m_profiles.size());
    for (const Profile& profile : m_profiles) {
        // A profile being imported into must not receive session files in its half-copied data folder;
        // the next round brings them.
        if (m_busy.contains(profile.id))
            continue;
        items.push_back(
            {profile.id, m_paths.dataDir(profile.id), m_paths.profileDir(profile.id) / SessionSync::ledgerFileName,
                m_running.contains(profile.id), m_bringMcpServers});
    }
    const std::filesystem::path source = m_paths.originalDataDir;
    std::vector<SessionSync::Result> results;
    try {
        auto round = runInBackground(this, [source, items] { return SessionSync::run(source, items); });
        results = co_await round;
    } catch (const std::exception&) {
        // Dropped like every sync error; the next round tries again.
    }
    for (const SessionSync::Result& result : results) {
        reportSyncProblem(result);
        if (!m_running.contains(result.id)) {
            m_pendingAfterRestart.erase(result.id);
            continue;
        }
        const auto earlier = m_pendingAfterRestart.find(result.id);
        const int64_t sessions =
            (earlier == m_pendingAfterRestart.end() ? 0 : earlier->second.sessions) + result.sessions;
        if (sessions == 0 && result.pins == 0 && result.mcpServers == 0)
            m_pendingAfterRestart.erase(result.id);
        else
            m_pendingAfterRestart[result.id] = PendingImport {sessions, result.pins, result.mcpServers};
    }
    m_isSyncingSessions = false;
    announce();
    emit sessionsSynced(results);
    announceIdleLater();
}

// A round's problem is told once: again only when it changes, and forgotten after a round without one, so that
// a full disk does not raise an alert every 30 seconds.
void AppModel::reportSyncProblem(const SessionSync::Result& result)
{
    const auto profile = this->profile(result.id);
    const std::string name = profile ? profile->name : result.id.toString();
    std::string message;
    if (!result.failure.empty()) {
        message = "Couldn’t bring sessions into " + name + ": " + result.failure;
    } else if (!result.leftOut.empty()) {
        message = "Some session files weren’t brought into " + name + " because their names aren’t valid UTF-8: “" +
            UnicodeText::replacingInvalidUtf8(result.leftOut.front()) + "”" +
            (result.leftOut.size() > 1 ? " and " + std::to_string(result.leftOut.size() - 1) + " more." : ".");
    }
    if (message.empty()) {
        m_syncProblems.erase(result.id);
        return;
    }
    if (m_syncProblems[result.id] == message)
        return;
    m_syncProblems[result.id] = message;
    warn(message);
}

// Link routing

std::filesystem::path AppModel::routingTarget(bool toOwnBundle) const
{
    return toOwnBundle ? m_platform.mainBundle.bundlePath() : m_paths.sourceApp;
}

bool AppModel::isLinkRoutingActive() const
{
    const auto handler = m_platform.linkHandler.applicationToOpen(probeLink);
    return handler && sameLocation(*handler, m_platform.mainBundle.bundlePath());
}

QCoro::Task<> AppModel::setRouteClaudeLinks(bool enabled)
{
    std::optional<std::string> failure;
    try {
        auto change = whileAlive(this,
            m_platform.linkHandler.setDefaultApplication(
                routingTarget(enabled), std::string(ClaudeDesktop::urlScheme)));
        co_await change;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure) {
        fail("Couldn’t change the claude:// link handler: " + *failure);
        co_return;
    }
    m_routeClaudeLinks = enabled;
    m_platform.userDefaults.setBool(routeClaudeLinksKey, enabled);
    announce();
}

void AppModel::maybeRepairLinkHandler()
{
    if (m_options.repairLinkHandler)
        repairLinkHandlerIfNeeded();
}

void AppModel::repairLinkHandlerIfNeeded()
{
    const auto handler = m_platform.linkHandler.applicationToOpen(probeLink);
    if (!handler)
        return;
    const auto identifier = m_platform.workspace.bundleIdentifier(*handler);
    if (!identifier || !Profile::profileIDFromBundleIdentifier(*identifier))
        return;
    ignoringOutcome(m_platform.linkHandler.setDefaultApplication(
        routingTarget(m_routeClaudeLinks), std::string(ClaudeDesktop::urlScheme)));
}

QCoro::Task<> AppModel::recheckLinkHandlerAfterLaunch()
{
    // 2, 6 and 15 seconds apart: the system may hand the scheme to a new app a little after its launch.
    for (const auto delay : {2s, 6s, 15s}) {
        try {
            auto wait = sleep(delay);
            co_await wait;
        } catch (const std::exception&) {
            // An interrupted wait still checks.
        }
        repairLinkHandlerIfNeeded();
    }
}

void AppModel::handle(const std::vector<std::string>& urls)
{
    std::filesystem::path destination = m_paths.sourceApp;
    if (m_routeClaudeLinks) {
        for (const auto& candidate : {profile(m_activeProfileID), profile(m_lastLaunchedProfileID)}) {
            if (candidate && m_running.contains(candidate->id)) {
                destination = m_paths.appURL(*candidate);
                break;
            }
        }
    }
    m_platform.workspace.openURLs(urls, destination);
}

} // namespace korvel
