#pragma once

#include <string>

namespace korvel {

// The texts that name parts of the desktop. Korvel's texts follow the macOS wording; on Linux these few would tell
// the user something untrue (a Mac, the Dock, Finder, the keychain, /Applications), so each has a Linux wording
// here, beside the macOS one that a macOS build keeps. Every other text is written where it is shown.
struct Wording
{
    enum class Text {
        WelcomeSubtitle, // the welcome's line below its title
        OwnAppStep, // the welcome's first step
        OwnAppEmptyState, // the management window without profiles
        ShowAppInFileViewer, // a sidebar row's menu item
        DeletedDataLeaves, // the delete confirmation, after "This removes <app>."
        SignInTip, // the welcome's tip about signing in with Google
        SafeStorageTip, // the welcome's tip about the stored sign-in secret
        AutoUpdateFooter, // the settings' footer below the automatic rebuild
        ClaudeMissingWarning, // the sidebar's warning while Claude Desktop is missing
        ClaudeMissingSummary, // a profile app's status while Claude Desktop is missing
        InstallClaudeFirst, // the welcome while Claude Desktop is missing
    };

    enum class Desktop { MacOS, Linux };

    // The text as the desktop Korvel was built for says it.
    static std::string text(Text text);
    static std::string text(Text text, Desktop desktop);
};

} // namespace korvel
