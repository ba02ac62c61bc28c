#include "app/cli/CommandRunner.hpp"

#include "app/cli/NextSignal.hpp"
#include "app/cli/ProfileLookup.hpp"
#include "app/cli/ProfileReport.hpp"
#include "app/cli/UsageError.hpp"
#include "app/model/AppModel.hpp"
#include "core/support/FolderSize.hpp"
#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"
#include "core/support/UnicodeText.hpp"

#include <QObject>

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

// Every task is named before it is awaited (`auto t = f(); co_await t;`) and every awaited value is named
// before it is used: g++ 12 destroys temporaries of a co_await expression twice.

namespace korvel {
namespace {

constexpr const char* appliesAfterQuit = "The new name and color apply after you quit this profile’s app.";

// What one command hands back besides its output.
struct Outcome
{
    std::string output {};
    std::string note {}; // for standard error, also on success
    bool failed = false; // ends the command with the failure status
    std::set<Uuid> subjects {}; // the profiles the command acts on: their failures are its own
    std::optional<Profile> created {}; // the profile `create` made
};

std::string nameOf(const AppModel& model, const QString& id)
{
    const auto profile = model.profile(Uuid::parse(id.toStdString()));
    return profile ? profile->name : id.toStdString();
}

// Reports the builder's steps and every new progress message of a profile while it lives.
class ProgressLines
{
public:
    ProgressLines(AppModel& model, CommandRunner::Progress progress)
    {
        if (!progress)
            return;
        QObject::connect(
            &model, &AppModel::buildStep, &m_context, [&model, progress](const QString& id, const QString& step) {
                progress(nameOf(model, id) + ": " + step.toStdString());
            });
        QObject::connect(&model, &AppModel::changed, &m_context, [this, &model, progress] {
            for (const auto& [id, message] : model.busy()) {
                if (m_shown[id] != message)
                    progress(nameOf(model, QString::fromStdString(id.toString())) + ": " + message);
            }
            m_shown = model.busy();
        });
    }

private:
    QObject m_context;
    std::map<Uuid, std::string> m_shown;
};

// What went wrong in the model while it lives: failures with the profile they concern, and warnings.
class Problems
{
public:
    struct Failure
    {
        std::string message;
        std::optional<Uuid> about; // nothing for an operation on no one profile
    };

    explicit Problems(AppModel& model)
    {
        QObject::connect(
            &model, &AppModel::errorOccurred, &m_context, [this](const QString& message, const QString& profileID) {
                m_failures.push_back({message.toStdString(), Uuid::parse(profileID.toStdString())});
            });
        QObject::connect(&model, &AppModel::warned, &m_context,
            [this](const QString& message) { m_warnings.push_back(message.toStdString()); });
    }
    const std::vector<Failure>& failures() const { return m_failures; }
    const std::vector<std::string>& warnings() const { return m_warnings; }

private:
    QObject m_context;
    std::vector<Failure> m_failures;
    std::vector<std::string> m_warnings;
};

std::string blankChecked(const std::string& name)
{
    if (UnicodeText::trimWhiteSpace(name).empty())
        throw UsageError("The name can’t be blank.");
    return name;
}

// The position as the list-move destination that puts the profile at `index` there.
size_t destination(const AppModel& model, size_t index, const std::string& text)
{
    const size_t count = model.profiles().size();
    size_t position = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), position);
    if (error != std::errc() || end != text.data() + text.size() || position < 1 || position > count)
        throw UsageError("There is no position “" + text + "”: the positions are 1 to " + std::to_string(count) + ".");
    return position - 1 > index ? position : position - 1;
}

std::vector<std::pair<Profile, CloneStatus>> statusesOnDisk(const AppModel& model, const Invocation& invocation)
{
    std::vector<Profile> profiles = model.profiles();
    if (!invocation.operands.empty())
        profiles = {ProfileLookup::find(model.profiles(), invocation.operands[0])};
    std::vector<std::pair<Profile, CloneStatus>> statuses;
    for (const Profile& profile : profiles)
        statuses.emplace_back(profile, model.builder().status(profile));
    return statuses;
}

// One sync round of our own: a round already running when asked for ends first, and then ours runs. What every
// round in between brought over is added up. A failure fails the command even when Korvel has told it before.
QCoro::Task<Outcome> sync(AppModel& model, bool json)
{
    std::map<Uuid, ProfileReport::Synced> totals;
    std::map<Uuid, std::string> failures;
    int rounds = 0;
    QObject context;
    QObject::connect(&model, &AppModel::sessionsSynced, &context,
        [&totals, &failures, &rounds](const std::vector<SessionSync::Result>& results) {
            ++rounds;
            for (const SessionSync::Result& result : results) {
                if (!result.failure.empty())
                    failures[result.id] = result.failure;
                ProfileReport::Synced& total = totals[result.id];
                total.sessions += result.sessions;
                total.pins += result.mergedPins;
                total.pinsWaiting = result.pins;
                total.mcpServers += result.mergedMcpServers;
                total.mcpServersWaiting = result.mcpServers;
            }
        });
    for (;;) {
        const int before = rounds;
        auto round = model.syncSessions();
        co_await round;
        if (rounds > before)
            break;
        NextSignal other(&model, &AppModel::sessionsSynced);
        co_await other;
    }
    std::vector<ProfileReport::Synced> synced;
    std::string problems;
    for (const Profile& profile : model.profiles()) {
        ProfileReport::Synced entry = totals[profile.id];
        entry.profile = profile;
        entry.running = model.running().contains(profile.id);
        synced.push_back(entry);
        if (failures.contains(profile.id))
            problems += "Couldn’t bring sessions into " + profile.name + ": " + failures[profile.id] + "\n";
    }
    co_return Outcome {.output = ProfileReport::sync(synced, json), .note = problems, .failed = !problems.empty()};
}

QCoro::Task<Outcome> create(AppModel& model, const Invocation& invocation)
{
    const std::string name = blankChecked(invocation.operands[0]);
    const auto colorName = invocation.value("--color");
    // Without a colour, the one the new-profile sheet would offer.
    const ProfileColor color =
        colorName ? *CommandSyntax::color(*colorName) : Profile::firstUnusedColor(model.profiles());
    auto creating = model.createProfile(name, color, invocation.has("--import"));
    const std::optional<Profile> profile = co_await creating;
    if (!profile)
        co_return Outcome {}; // the list could not be saved; the model has said why
    if (invocation.has("--open")) {
        auto opening = model.open(model.profile(profile->id).value_or(*profile));
        co_await opening;
    }
    co_return Outcome {.output = profile->id.toString() + "\n", .subjects = {profile->id}, .created = profile};
}

Outcome update(
    AppModel& model, const Profile& profile, std::optional<std::string> name, std::optional<ProfileColor> color)
{
    model.update(profile, std::move(name), color);
    const auto updated = model.profile(profile.id);
    if (updated && model.running().contains(profile.id) && model.status(*updated).needsBuild())
        return {.note = std::string(appliesAfterQuit) + "\n"};
    return {};
}

Outcome claudeCode(AppModel& model, const Profile& profile, const Invocation& invocation)
{
    if (invocation.has("--export"))
        return {.output = model.claudeCodeExportLine(profile) + "\n"};
    if (invocation.has("--script")) {
        const auto file = model.writeClaudeCodeScript(profile);
        return {.output = file ? file->string() + "\n" : std::string()};
    }
    model.openClaudeCode(profile);
    return {};
}

// What is on disk, as status tells it, not the model's last check: Korvel may not have looked since Claude changed.
QCoro::Task<Outcome> list(AppModel& model, const Invocation& invocation)
{
    const bool json = invocation.has("--json");
    const bool withSizes = invocation.has("--sizes");
    std::map<Uuid, std::uintmax_t> sizes;
    if (withSizes) {
        const std::vector<Profile> profiles = model.profiles();
        for (const Profile& profile : profiles) {
            auto measuring = model.dataSize(profile);
            const std::uintmax_t size = co_await measuring;
            sizes[profile.id] = size;
        }
    }
    co_return Outcome {.output = ProfileReport::list(model, statusesOnDisk(model, invocation), json, sizes)};
}

// Says how much local data went with the profile, or where it stays.
QCoro::Task<Outcome> deleteProfile(AppModel& model, Profile profile, bool moveDataToTrash)
{
    auto measuring = model.dataSize(profile);
    const std::uintmax_t size = co_await measuring;
    auto deleting = model.deleteProfile(profile, moveDataToTrash);
    co_await deleting;
    const std::filesystem::path data = model.paths().dataDir(profile.id);
    const std::string amount = FolderSize::text(size) + " of local data";
    if (model.profile(profile.id))
        co_return Outcome {};
    if (std::filesystem::exists(std::filesystem::symlink_status(data)))
        co_return Outcome {.output = "Kept " + amount + " in " + data.string() + ".\n"};
    co_return Outcome {.output = moveDataToTrash ? "Moved " + amount + " to the Trash.\n" : std::string()};
}

QCoro::Task<Outcome> performOn(AppModel& model, const Invocation& invocation, Profile profile);

QCoro::Task<Outcome> perform(AppModel& model, const Invocation& invocation)
{
    const std::string& command = invocation.command;
    const bool json = invocation.has("--json");
    if (command == "list") {
        auto listing = list(model, invocation);
        Outcome listed = co_await listing;
        co_return listed;
    }
    if (command == "status") {
        const auto statuses = statusesOnDisk(model, invocation);
        co_return Outcome {.output = ProfileReport::statuses(statuses, !invocation.operands.empty(), json)};
    }
    if (command == "create") {
        auto creating = create(model, invocation);
        Outcome created = co_await creating;
        co_return created;
    }
    if (command == "sync") {
        auto syncing = sync(model, json);
        Outcome synced = co_await syncing;
        co_return synced;
    }
    if (command == "link") {
        model.handle(invocation.operands);
        co_return Outcome {};
    }
    if (command == "route-links") {
        auto change = model.setRouteClaudeLinks(invocation.operands[0] == "on");
        co_await change;
        co_return Outcome {};
    }
    if (command == "switcher") {
        model.showSwitcher();
        co_return Outcome {};
    }
    if (command == "mcp-servers") {
        model.setBringMcpServers(invocation.operands[0] == "on");
        co_return Outcome {};
    }
    if (command == "open" && invocation.has("--all")) {
        Outcome opened;
        for (const Profile& profile : model.profiles())
            opened.subjects.insert(profile.id);
        auto opening = model.openAll();
        co_await opening;
        co_return opened;
    }

    const Profile profile = ProfileLookup::find(model.profiles(), invocation.operands[0]);
    auto acting = performOn(model, invocation, profile);
    Outcome outcome = co_await acting;
    outcome.subjects.insert(profile.id);
    co_return outcome;
}

QCoro::Task<Outcome> performOn(AppModel& model, const Invocation& invocation, Profile profile)
{
    const std::string& command = invocation.command;
    if (command == "rename")
        co_return update(model, profile, blankChecked(invocation.operands[1]), std::nullopt);
    if (command == "recolor")
        co_return update(model, profile, std::nullopt, CommandSyntax::color(invocation.operands[1]));
    if (command == "claude-code")
        co_return claudeCode(model, profile, invocation);
    if (command == "move") {
        const auto& profiles = model.profiles();
        const auto index = static_cast<size_t>(std::distance(profiles.begin(),
            std::find_if(
                profiles.begin(), profiles.end(), [&profile](const Profile& p) { return p.id == profile.id; })));
        model.moveProfiles({index}, destination(model, index, invocation.operands[1]));
        co_return Outcome {};
    }
    if (command == "import" && invocation.has("--keep-empty")) {
        if (!model.awaitsImportDecision(profile))
            throw UsageError("No import into “" + profile.name + "” broke off.");
        model.keepEmptyData(profile);
        co_return Outcome {};
    }
    if (command == "import") {
        auto importing = model.importAgain(profile);
        co_await importing;
        co_return Outcome {};
    }
    if (command == "delete") {
        auto deleting = deleteProfile(model, profile, invocation.has("--trash-data"));
        Outcome deleted = co_await deleting;
        co_return deleted;
    }
    QCoro::Task<> operation = command == "rebuild" ? model.rebuild(profile)
        : command == "restart"                     ? model.restart(profile)
                                                   : model.open(profile);
    co_await operation;
    co_return Outcome {};
}

QCoro::Task<> untilIdle(AppModel& model)
{
    while (!model.isIdle()) {
        NextSignal idle(&model, &AppModel::idle);
        co_await idle;
    }
}

// "Warning: …" lines on standard error, and a "warnings" list in JSON output.
void addWarnings(CommandResult& result, const std::vector<std::string>& warnings, bool json)
{
    if (warnings.empty())
        return;
    for (const std::string& warning : warnings)
        result.errorOutput += "Warning: " + warning + "\n";
    if (!json || result.output.empty())
        return;
    nlohmann::json output = JsonText::parse(result.output);
    if (!output.is_object())
        return;
    output["warnings"] = warnings;
    result.output = JsonWriter::format(output) + "\n";
}

} // namespace

QCoro::Task<CommandResult> CommandRunner::run(
    AppModel& model, Invocation invocation, Place place, Progress progress, std::vector<std::string> notes)
{
    const Problems problems(model);
    const ProgressLines lines(model, std::move(progress));
    CommandResult result;
    Outcome outcome;
    try {
        auto performing = perform(model, invocation);
        outcome = co_await performing;
        result.output = outcome.output;
        result.errorOutput = outcome.note;
        if (outcome.failed)
            result.status = CommandResult::failed;
    } catch (const UsageError& error) {
        co_return CommandResult {CommandResult::misused, {}, std::string("korvel: ") + error.what() + "\n"};
    }
    if (place == Place::Here || !CommandSyntax::readsOnly(invocation)) {
        auto settling = untilIdle(model);
        co_await settling;
    }
    // A failure for the profiles the command acts on, or for none, is the command's; another profile's is a warning.
    std::vector<std::string> warnings = std::move(notes);
    for (const Problems::Failure& failure : problems.failures()) {
        if (result.errorOutput.find(failure.message) != std::string::npos)
            continue;
        if (failure.about && !outcome.subjects.contains(*failure.about)) {
            warnings.push_back(failure.message);
            continue;
        }
        result.status = CommandResult::failed;
        result.errorOutput += failure.message + "\n";
    }
    for (const std::string& warning : problems.warnings()) {
        if (result.errorOutput.find(warning) == std::string::npos)
            warnings.push_back(warning);
    }
    // A profile kept without its app or its data is there all the same: a retry would make another.
    if (outcome.created && result.status == CommandResult::failed) {
        result.status = CommandResult::partlyDone;
        const Profile& created = *outcome.created;
        const auto kind = model.builder().status(model.profile(created.id).value_or(created)).kind();
        if (kind != CloneStatus::Kind::Ready && kind != CloneStatus::Kind::Outdated)
            result.errorOutput += "The profile “" + created.name + "” was kept without its app; “korvel rebuild " +
                created.id.toString() + "” builds it.\n";
    }
    addWarnings(result, warnings, invocation.has("--json"));
    co_return result;
}

} // namespace korvel
