// GIO first: its headers name struct members "signals", which Qt defines as a macro.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "app/platform/linux/LinuxLinkHandler.hpp"

#include "core/building/AppBundle.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/model/ClaudeInstall.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/SearchPath.hpp"
#include "core/support/XdgFolders.hpp"
#include "core/system/InstalledApplications.hpp"

#include <qcoro/qcorotimer.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace korvel {
namespace {

struct ObjectRelease
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, ObjectRelease>;

struct StringRelease
{
    void operator()(gchar* text) const { g_free(text); }
};
using OwnedString = std::unique_ptr<gchar, StringRelease>;

std::optional<std::string> schemeOf(const std::string& url)
{
    const size_t colon = url.find(':');
    if (colon == 0 || colon == std::string::npos)
        return std::nullopt;
    return url.substr(0, colon);
}

std::optional<ClaudeInstall> linuxInstall(const std::filesystem::path& place)
{
    auto install = ClaudeInstall::at(place);
    if (!install || install->kind != ClaudeInstall::Kind::Linux)
        return std::nullopt;
    return install;
}

// The desktop entry that Claude of a Linux install brought along, if any.
std::optional<std::filesystem::path> ownEntry(const ClaudeInstall& install)
{
    return InstalledApplications::desktopEntryFor(
        install.executable, std::string(ClaudeInstall::linuxProgram) + ".desktop");
}

std::optional<std::filesystem::path> bundleOf(GAppInfo* info)
{
    if (G_IS_DESKTOP_APP_INFO(info)) {
        const OwnedString bundle(g_desktop_app_info_get_string(
            G_DESKTOP_APP_INFO(info), std::string(DesktopRegistration::bundleKey).c_str()));
        if (bundle && *bundle)
            return std::filesystem::path(bundle.get());
    }
    const char* name = g_app_info_get_executable(info);
    const auto executable = name ? SearchPath::find(name) : std::nullopt;
    if (!executable || !executable->is_absolute())
        return std::nullopt;
    if (auto bundle = AppBundle::containing(*executable))
        return bundle;
    if (auto bundle = AppBundle::containing(AppBundle::resolvedLocation(*executable)))
        return bundle;
    if (const auto install = linuxInstall(*executable))
        return install->location;
    return std::nullopt;
}

} // namespace

LinuxLinkHandler::LinuxLinkHandler(std::filesystem::path ownBundle, std::filesystem::path dataHome)
    : m_ownBundle(std::move(ownBundle))
    , m_dataHome(std::move(dataHome))
{ }

bool LinuxLinkHandler::isOwn(const std::filesystem::path& application) const
{
    return AppBundle::resolvedLocation(application) == AppBundle::resolvedLocation(m_ownBundle);
}

std::optional<std::filesystem::path> LinuxLinkHandler::applicationToOpen(const std::string& url) const
{
    const auto scheme = schemeOf(url);
    if (!scheme)
        return std::nullopt;
    const AppInfo info(g_app_info_get_default_for_uri_scheme(scheme->c_str()));
    return info ? bundleOf(info.get()) : std::nullopt;
}

std::filesystem::path LinuxLinkHandler::entryFile(const std::filesystem::path& application) const
{
    const std::filesystem::path applications = m_dataHome / "applications";
    if (isOwn(application))
        return applications / DesktopRegistration::ownFileName;
    if (const auto install = linuxInstall(application)) {
        if (auto entry = ownEntry(*install))
            return *entry;
        return applications / DesktopRegistration::fileName(ClaudeDesktop::bundleIdentifier);
    }
    const auto identifier = AppBundle::identifier(application);
    if (!identifier || identifier->empty())
        throw std::runtime_error(application.string() + ": Info.plist lacks CFBundleIdentifier");
    return applications / DesktopRegistration::fileName(*identifier);
}

bool LinuxLinkHandler::writeEntry(const std::filesystem::path& application, const std::string& scheme) const
{
    if (const auto install = linuxInstall(application)) {
        // Claude's own entry takes its links back; only an install without one gets an entry of ours.
        if (ownEntry(*install))
            return false;
        DesktopEntry entry;
        entry.set("Type", "Application");
        entry.set("Name", "Claude");
        entry.set("Exec", DesktopEntry::execLine({install->executable.string()}, "%u"));
        entry.set("MimeType", "x-scheme-handler/" + scheme + ";");
        entry.set("NoDisplay", "true");
        entry.set(std::string(DesktopRegistration::bundleKey), DesktopRegistration::location(install->location));
        return entry.writeIfChanged(entryFile(application));
    }
    // GLib ignores an entry whose program is missing; say so plainly instead.
    const auto executable = AppBundle::executable(application);
    if (!executable)
        throw std::runtime_error(application.string() + ": Info.plist lacks CFBundleExecutable");
    if (::access(executable->c_str(), X_OK) != 0)
        FileError::throwRead(*executable, errno);

    const std::filesystem::path file = entryFile(application);
    if (!isOwn(application)) {
        std::optional<std::string> before;
        try {
            before = AtomicFile::read(file);
        } catch (const FileError&) {
            // not written yet
        }
        DesktopRegistration::registerBundle(application, m_dataHome);
        return AtomicFile::read(file) != before;
    }
    DesktopEntry entry = DesktopRegistration::entryFor(application, "%u");
    // Korvel takes the scheme even when a development build's Info.plist forgot to declare it.
    const std::string type = "x-scheme-handler/" + scheme + ";";
    const std::string types = entry.value("MimeType").value_or("");
    if (types.find(type) == std::string::npos)
        entry.set("MimeType", types + type);
    // The profiles' actions (LinuxDesktopActions) stay.
    try {
        entry.setActions(DesktopEntry::read(file).actions());
    } catch (const FileError&) {
        // not written yet
    }
    DesktopRegistration::keepInstalledKeys(entry, DesktopRegistration::installedDataDirs(m_dataHome));
    return entry.writeIfChanged(file);
}

QCoro::Task<> LinuxLinkHandler::setDefaultApplication(std::filesystem::path application, std::string scheme)
{
    const bool written = writeEntry(application, scheme);
    const std::filesystem::path file = entryFile(application);
    const AppInfo info(G_APP_INFO(g_desktop_app_info_new_from_filename(file.c_str())));
    if (!info)
        throw std::runtime_error("The desktop entry “" + file.string() + "” isn’t valid.");
    GError* error = nullptr;
    const std::string type = "x-scheme-handler/" + scheme;
    if (!g_app_info_set_as_default_for_type(info.get(), type.c_str(), &error)) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error(message);
    }
    if (!written)
        co_return;
    // GLib learns of a new entry from a file monitor in its worker thread; until then it would not name it as
    // the handler. Wait a little so that whoever asks next gets the new answer.
    const auto expected = AppBundle::resolvedLocation(application);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto handler = applicationToOpen(scheme + ":");
        if (handler && AppBundle::resolvedLocation(*handler) == expected)
            co_return;
        // Named: g++ 12 destroys the temporaries of a co_await expression twice.
        auto pause = QCoro::sleepFor(std::chrono::milliseconds(20));
        co_await pause;
    }
}

} // namespace korvel
