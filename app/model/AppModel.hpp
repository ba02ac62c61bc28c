#pragma once

#include "app/model/SessionSync.hpp"
#include "app/platform/Platform.hpp"
#include "core/building/CloneBuilder.hpp"
#include "core/building/CloneStatus.hpp"
#include "core/model/AppPaths.hpp"
#include "core/model/Profile.hpp"
#include "core/model/ProfileStore.hpp"

#include <QObject>
#include <QString>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korvel {

// The one observable model of Korvel: the profiles, their apps' health, which apps run, what is busy, the
// settings, and every operation on them. Main thread only. Every change of the published state is announced
// with changed(). Operations never throw: failures land in errorMessage().
class AppModel : public QObject
{
    Q_OBJECT

public:
    // Sessions, pins and MCP servers brought into a running profile that its app shows after a restart.
    struct PendingImport
    {
        int64_t sessions = 0; // added up since the app last quit
        int64_t pins = 0; // the latest count
        int64_t mcpServers = 0; // the latest count
        friend bool operator==(const PendingImport&, const PendingImport&) = default;
    };

    static constexpr const char* autoUpdateKey = "autoUpdateProfileApps";
    static constexpr const char* didCompleteWelcomeKey = "didCompleteWelcome";
    static constexpr const char* routeClaudeLinksKey = "routeClaudeLinks";
    static constexpr const char* bringMcpServersKey = "bringMcpServers";
    static constexpr const char* taskBarIdentityKey = "taskBarIdentity";
    static constexpr const char* switcherShortcutKey = "switcherShortcut";
    static constexpr const char* defaultSwitcherShortcut = "Ctrl+Alt+K";
    static constexpr const char* launchAtLoginMarkerKey = "didEnableLaunchAtLoginByDefault";
    static constexpr const char* probeLink = "claude://claude.ai/new";
    static constexpr int sessionSyncIntervalMs = 30'000;

    // What the model does to the desktop beyond Korvel's own files. The application keeps both; a headless
    // model (a command run without a running Korvel) turns both off, so that running a command never
    // registers a login item nor moves the claude scheme.
    struct Options
    {
        // Register Korvel as a login item on its first start from an Applications folder.
        bool enableLaunchAtLoginOnFirstRun = true;
        // Take the claude scheme back from a profile app holding it: at start, when a profile app comes to the
        // front and after each profile app's launch. setRouteClaudeLinks changes the handler either way.
        bool repairLinkHandler = true;
        // Rebuild outdated apps and bring sessions over at start and every 30 seconds. Off for a read-only
        // command, which must leave the disk as it found it.
        bool maintain = true;
        // Bind the switcher's global shortcut, which only the application answers.
        bool bindSwitcherShortcut = true;
    };

    // The global shortcut that shows the profile switcher, and how binding it went.
    struct SwitcherShortcut
    {
        enum class State {
            None, // no keys chosen
            Binding, // asked for, no answer yet
            Bound,
            Failed, // `failure` says why
            Unavailable, // the desktop offers no global shortcuts
        };
        std::string keys; // Qt's portable text ("Ctrl+Alt+K"); empty for none
        State state = State::None;
        std::string failure;
    };

    // Runs the whole start-up sequence. `launcherURL` is the KorvelLauncher installed into every profile app.
    AppModel(AppPaths paths, Platform platform, std::filesystem::path launcherURL, QObject* parent = nullptr);
    AppModel(AppPaths paths, Platform platform, std::filesystem::path launcherURL, Options options,
        QObject* parent = nullptr);
    ~AppModel() override;

    // Published state.
    const std::vector<Profile>& profiles() const { return m_profiles; }
    const std::map<Uuid, CloneStatus>& statuses() const { return m_statuses; }
    const std::set<Uuid>& running() const { return m_running; }
    const std::optional<Uuid>& activeProfileID() const { return m_activeProfileID; }
    const std::map<Uuid, std::string>& busy() const { return m_busy; }
    const std::map<Uuid, PendingImport>& pendingAfterRestart() const { return m_pendingAfterRestart; }
    const std::optional<Uuid>& selection() const { return m_selection; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    // A profile whose import of Claude's data broke off (a kill, a power loss) before this start, or before an
    // earlier start that nobody answered: its data folder has been emptied, and errorMessage asks whether to import
    // again (importAgain) or keep it empty (keepEmptyData).
    const std::optional<Uuid>& interruptedImport() const { return m_interruptedImport; }
    // The entries of the stored list that are not profiles and were left out at start (ProfileStore::Contents),
    // until the first change sets the list aside.
    const std::vector<std::string>& leftOutProfiles() const { return m_leftOutProfiles; }
    bool showWelcome() const { return m_showWelcome; }
    bool showNewProfile() const { return m_showNewProfile; }
    bool autoUpdateProfileApps() const { return m_autoUpdateProfileApps; }
    bool didCompleteWelcome() const { return m_didCompleteWelcome; }
    bool routeClaudeLinks() const { return m_routeClaudeLinks; }
    // Whether sync rounds bring Claude's MCP servers into the profiles.
    bool bringMcpServers() const { return m_bringMcpServers; }
    // How profile apps' windows get their own task-bar icon in a Wayland session (written into every app). By
    // default through the relay.
    TaskBarIdentity taskBarIdentity() const { return m_builder.taskBarIdentity; }
    // The desktop's kind of session: the choice above matters only in a Wayland session.
    Workspace::Session session() const { return m_platform.workspace.session(); }
    const SwitcherShortcut& switcherShortcut() const { return m_switcherShortcut; }

    // Written by the interface. The settings are stored on every assignment.
    void setSelection(std::optional<Uuid> selection);
    void setErrorMessage(std::optional<std::string> message);
    void setShowWelcome(bool show);
    void setShowNewProfile(bool show);
    void setAutoUpdateProfileApps(bool enabled);
    void setDidCompleteWelcome(bool done);
    // Turning it on starts a sync round when the model maintains the profiles.
    void setBringMcpServers(bool enabled);
    // Stores the choice; every app built with another one then needs a rebuild, which follows at once for the
    // apps that do not run when apps are kept up to date.
    void setTaskBarIdentity(TaskBarIdentity identity);
    // Stores the keys (empty for none) and binds them in place of the earlier ones.
    void setSwitcherShortcut(std::string keys);

    // Not published.
    const std::optional<Uuid>& lastLaunchedProfileID() const { return m_lastLaunchedProfileID; }
    bool isSyncingSessions() const { return m_isSyncingSessions; }
    const AppPaths& paths() const { return m_paths; }
    const CloneBuilder& builder() const { return m_builder; }
    const QTimer& sessionSyncTimer() const { return m_sessionSyncTimer; }
    const Options& options() const { return m_options; }

    // True when no build, import or sync round runs and no task the model started (a rebuild after a rename,
    // an automatic rebuild, a sync round) waits or runs. The link-handler checks after a launch do not count.
    bool isIdle() const;

    // Lookups.
    std::optional<Profile> profile(const std::optional<Uuid>& id) const;
    std::optional<Profile> activeProfile() const;
    // The last computed status; notBuilt when there is none. Does not look at the disk.
    CloneStatus status(const Profile& profile) const;
    // Recomputes every status from the disk, then starts a session sync without waiting for it.
    void refreshStatuses();

    // Launch at login.
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);

    // Why no profile can be created now (Claude Desktop is not installed, and where Korvel looked), else nothing.
    std::optional<std::string> creationBlocked() const;
    // Whether Claude Desktop is installed and its data folder holds an account to move into a profile.
    bool hasImportableData() const;

    // Profile operations.
    QCoro::Task<std::optional<Profile>> createProfile(std::string name, ProfileColor color, bool importOriginalData);
    QCoro::Task<> rebuild(Profile profile);
    QCoro::Task<> open(Profile profile);
    QCoro::Task<> openAll();
    QCoro::Task<> restart(Profile profile);
    QCoro::Task<> deleteProfile(Profile profile, bool moveDataToTrash);
    // Bytes in the profile's data folder (what deleting with its data throws away), measured in the background.
    QCoro::Task<std::uintmax_t> dataSize(Profile profile);
    void update(const Profile& profile, std::optional<std::string> name, std::optional<ProfileColor> color);
    void moveProfiles(const std::set<size_t>& fromOffsets, size_t toOffset);
    // Show the profile's data folder or its app in the file manager; a desktop without one is reported.
    void revealData(const Profile& profile);
    void revealApp(const Profile& profile);
    // Where the profile's app is now: under its name, else where an earlier build left it (a rename not yet
    // rebuilt, the app still running), else where a build will put it.
    std::filesystem::path appLocation(const Profile& profile) const;
    void openClaudeCode(const Profile& profile);
    void copyClaudeCodeExport(const Profile& profile);
    // The two halves of the Claude Code operations: the command file written (nothing when it could not be,
    // with errorMessage set), and the line that sets the profile's configuration folder in a shell.
    std::optional<std::filesystem::path> writeClaudeCodeScript(const Profile& profile);
    std::string claudeCodeExportLine(const Profile& profile) const;
    std::shared_ptr<RunningApplication> runningApp(const Profile& profile) const;
    void quitOriginalClaude();
    // The answers to the interrupted-import question, for interruptedImport() or any profile. importAgain imports
    // Claude's data into the profile's data folder, which must be empty (any profile's, asked or not).
    QCoro::Task<> importAgain();
    QCoro::Task<> importAgain(Profile profile);
    void keepEmptyData();
    void keepEmptyData(const Profile& profile);
    // Whether the profile's import broke off and nobody has answered the question yet.
    bool awaitsImportDecision(const Profile& profile) const;

    // Automatic rebuilds and session sync.
    void updateOutdatedApps();
    QCoro::Task<> syncSessions();

    // Link routing.
    bool isLinkRoutingActive() const;
    QCoro::Task<> setRouteClaudeLinks(bool enabled);
    void repairLinkHandlerIfNeeded();
    void handle(const std::vector<std::string>& urls);

    // Asks the interface to show the profile switcher (the global shortcut, `korvel switcher`).
    void showSwitcher() { emit switcherRequested(); }

signals:
    // Some published state changed.
    void changed();
    // A build of the profile reached the named step; for progress displays beyond `busy`.
    void buildStep(const QString& profileID, const QString& step);
    // An operation failed; errorMessage() now holds `message`. `profileID` names the profile it failed for; empty
    // for an operation on no one profile (storing the list, the link handler).
    void errorOccurred(const QString& message, const QString& profileID);
    // Something went wrong that no operation asked for failed by (a sync round's problem, the unreadable list set
    // aside); errorMessage() now holds `message`.
    void warned(const QString& message);
    // A session sync round has finished; one result per profile it covered, in list order.
    void sessionsSynced(const std::vector<SessionSync::Result>& results);
    // The profile switcher should show, with the keyboard focus.
    void switcherRequested();
    // Posted whenever an operation ends; emitted from the event loop if the model is idle then (isIdle()).
    void idle();

private:
    void announce() { emit changed(); }
    void fail(std::string message, const std::optional<Uuid>& about = std::nullopt);
    void warn(std::string message);
    std::string cannotRaise(const Profile& profile) const;
    // Reports and refuses a profile name that its app's files cannot hold (Profile::nameProblem) or whose app name
    // is too long for a file name.
    bool refusedAsAppName(const std::string& name);
    // Applies `change` to the list as stored now, under the list's lock, stores and publishes the result: a change
    // another process stored meanwhile is kept. False, with the failure reported, when nothing was stored.
    bool changeProfiles(const ProfileStore::Change& change);
    // Lists the profiles in Korvel's desktop entry; a failure is only logged, the change itself stands.
    void listProfilesOnDesktop();
    void reveal(const std::filesystem::path& item);
    std::map<Uuid, CloneStatus> statusesOnDisk() const;
    void setAsideUnreadableProfileList();
    void enableLaunchAtLoginOnFirstRun();
    void recoverInterruptedImports();
    void askAboutInterruptedImport();
    bool answerImportQuestion(const Profile& profile);
    void observeWorkspace();
    void refreshRunning();
    void launchedOrTerminated(Workspace::Event event, const std::shared_ptr<RunningApplication>& application);
    void activated(const std::shared_ptr<RunningApplication>& application);
    void becameActive();
    void sessionSyncTick();
    void reportSyncProblem(const SessionSync::Result& result);
    void setBusy(const Uuid& id, std::optional<std::string> message);
    void rebuildIfNameIsFree(const Profile& profile);
    std::filesystem::path routingTarget(bool toOwnBundle) const;
    QCoro::Task<> buildApp(Profile profile);
    QCoro::Task<> importOriginalData(Profile profile);
    QCoro::Task<bool> waitUntilQuit(std::shared_ptr<RunningApplication> application, int polls);
    QCoro::Task<> recheckLinkHandlerAfterLaunch();
    QCoro::Task<> sleep(std::chrono::milliseconds duration);
    void maybeRepairLinkHandler();
    void bindSwitcherShortcut();
    QCoro::Task<> bindShortcut(std::string keys, int request);
    void taskEnded();
    void announceIdleLater();
    QCoro::Task<> counted(QCoro::Task<> task);
    // Starts the task made by `make` from the event loop; counted tasks keep the model from being idle.
    template<typename Make>
    void startTask(Make make, bool counted = true);

    // Published.
    std::vector<Profile> m_profiles;
    std::map<Uuid, CloneStatus> m_statuses;
    std::set<Uuid> m_running;
    std::optional<Uuid> m_activeProfileID;
    std::map<Uuid, std::string> m_busy;
    std::map<Uuid, PendingImport> m_pendingAfterRestart;
    std::optional<Uuid> m_selection;
    std::optional<std::string> m_errorMessage;
    std::optional<Uuid> m_interruptedImport;
    bool m_showWelcome = false;
    bool m_showNewProfile = false;
    bool m_autoUpdateProfileApps = true;
    bool m_didCompleteWelcome = false;
    bool m_routeClaudeLinks = false;
    bool m_bringMcpServers = false;
    SwitcherShortcut m_switcherShortcut;

    // Not published.
    std::optional<Uuid> m_lastLaunchedProfileID;
    bool m_isSyncingSessions = false;
    bool m_profileListUnreadable = false; // the stored list did not load in full and is still in place
    std::vector<std::string> m_leftOutProfiles;
    int m_startedTasks = 0; // counted tasks started and not yet ended
    int m_shortcutRequests = 0; // bindings asked for; only the latest one's outcome counts
    std::map<Uuid, std::string> m_syncProblems; // the last sync problem told for each profile
    QTimer m_sessionSyncTimer;
    Options m_options;
    AppPaths m_paths;
    Platform m_platform;
    ProfileStore m_store;
    CloneBuilder m_builder;
};

} // namespace korvel
