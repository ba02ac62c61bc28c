#pragma once

#include "app/platform/LinkHandler.hpp"
#include "core/support/XdgFolders.hpp"

#include <filesystem>

namespace korvel {

// Default URL-scheme handlers through GIO: desktop entries in the user's applications folder and the
// x-scheme-handler/<scheme> defaults of mimeapps.list. A handler's bundle is the entry's X-Korvel-Bundle, else
// the bundle its Exec program lies in. Main thread only.
//
// GLib reads the XDG folders once per process, at its first use: set XDG_DATA_HOME and XDG_CONFIG_HOME before.
class LinuxLinkHandler : public LinkHandler
{
public:
    // `ownBundle` is Korvel.app, whose entry is korvel.desktop; other bundles are registered as korvel-tool
    // lsregister does (DesktopRegistration). Entries go to `dataHome`/applications.
    explicit LinuxLinkHandler(std::filesystem::path ownBundle, std::filesystem::path dataHome = XdgFolders::dataHome());

    std::optional<std::filesystem::path> applicationToOpen(const std::string& url) const override;
    // Writes the bundle's desktop entry, makes it the scheme's default, and completes once GLib answers with it
    // (or after a short wait for GLib to notice a new entry). Throws FileError when the bundle's executable is
    // missing or the entry cannot be written, std::runtime_error with GLib's message when GLib refuses.
    QCoro::Task<> setDefaultApplication(std::filesystem::path application, std::string scheme) override;

    // The desktop entry file that stands for `application`; korvel.desktop for Korvel itself; for Claude of a
    // Linux install the entry it came with (else one of ours).
    std::filesystem::path entryFile(const std::filesystem::path& application) const;

private:
    // Writes the entry when its content changes; true when it was written.
    bool writeEntry(const std::filesystem::path& application, const std::string& scheme) const;

    bool isOwn(const std::filesystem::path& application) const;

    std::filesystem::path m_ownBundle;
    std::filesystem::path m_dataHome;
};

} // namespace korvel
