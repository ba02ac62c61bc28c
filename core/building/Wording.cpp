#include "core/building/Wording.hpp"

#include "core/model/ClaudeDesktop.hpp"
#include "core/model/ClaudeInstall.hpp"

namespace korvel {
namespace {

struct Pair
{
    std::string macOS;
    std::string onLinux;
};

Pair pair(Wording::Text text)
{
    using Text = Wording::Text;
    const std::string download(ClaudeDesktop::downloadPage);
    switch (text) {
    case Text::WelcomeSubtitle:
        return {"Use several Claude accounts on this Mac at the same time.",
            "Use several Claude accounts on this computer at the same time."};
    case Text::OwnAppStep:
        return {"Each profile is its own Claude app, with its own Dock icon, login and chat history.",
            "Each profile is its own Claude app, with its own icon in the task bar or dock, login and chat history."};
    case Text::OwnAppEmptyState:
        return {"Each profile is its own Claude app with its own login,\nDock icon and chat history.",
            "Each profile is its own Claude app with its own login,\ntask bar icon and chat history."};
    case Text::ShowAppInFileViewer:
        return {"Show App in Finder", "Show App in File Manager"};
    case Text::DeletedDataLeaves:
        return {"Moving its data to the Trash signs this account out and removes its local chat history from this Mac.",
            "Moving its data to the Trash signs this account out and removes its local chat history from this "
            "computer."};
    case Text::SignInTip:
        return {"Sign in with Google or email. Google opens Apple’s secure sign-in window and returns to the profile "
                "that asked for it.",
            "Sign in with Google or email. Google opens in your web browser and returns to the profile that asked for "
            "it."};
    case Text::SafeStorageTip:
        return {"The first time a profile opens, macOS may ask to let it use “Claude Safe Storage” in your keychain. "
                "Choose Always Allow so it stays signed in.",
            "The first time a profile opens, your desktop may ask to unlock its keyring, where Claude keeps the "
            "profile’s sign-in. Unlock it so the profile stays signed in."};
    case Text::AutoUpdateFooter:
        return {"When Claude Desktop updates, each profile app is recreated from the new version the next time it "
                "isn’t running. You may be asked to allow keychain access again.",
            "When Claude Desktop updates, each profile app is recreated from the new version the next time it "
            "isn’t running. You may be asked to unlock your keyring again."};
    case Text::ClaudeMissingWarning:
        return {"Claude Desktop isn’t installed in /Applications.",
            "Claude Desktop isn’t installed. Korvel looked in " + ClaudeInstall::placesLooked() + "."};
    case Text::ClaudeMissingSummary:
        return {"Claude Desktop not found in /Applications",
            "Claude Desktop not found in " + ClaudeInstall::placesLooked()};
    case Text::InstallClaudeFirst:
        return {"Install Claude Desktop in /Applications first (" + download + "), then reopen this app.",
            "Install Claude Desktop first (" + download + "), then reopen this app. Korvel looks in " +
                ClaudeInstall::placesLooked() + "."};
    }
    return {};
}

} // namespace

std::string Wording::text(Text text)
{
#ifdef __APPLE__
    return Wording::text(text, Desktop::MacOS);
#else
    return Wording::text(text, Desktop::Linux);
#endif
}

std::string Wording::text(Text text, Desktop desktop)
{
    Pair both = pair(text);
    return desktop == Desktop::MacOS ? std::move(both.macOS) : std::move(both.onLinux);
}

} // namespace korvel
