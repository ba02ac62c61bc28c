#pragma once

#include "app/platform/Clock.hpp"
#include "app/platform/DesktopActions.hpp"
#include "app/platform/FileViewer.hpp"
#include "app/platform/GlobalShortcut.hpp"
#include "app/platform/LinkHandler.hpp"
#include "app/platform/LoginItem.hpp"
#include "app/platform/MainBundle.hpp"
#include "app/platform/OwnApplication.hpp"
#include "app/platform/Pasteboard.hpp"
#include "app/platform/Terminal.hpp"
#include "app/platform/Trash.hpp"
#include "app/platform/UserDefaults.hpp"
#include "app/platform/Workspace.hpp"

namespace korvel {

// Every system service the application model uses, handed to it at construction. The services must outlive
// the model. Members that return a task take their arguments by value, so that the coroutine owns them.
struct Platform
{
    Workspace& workspace;
    OwnApplication& ownApplication;
    UserDefaults& userDefaults;
    LoginItem& loginItem;
    LinkHandler& linkHandler;
    Trash& trash;
    FileViewer& fileViewer;
    Pasteboard& pasteboard;
    Terminal& terminal;
    MainBundle& mainBundle;
    Clock& clock;
    DesktopActions& desktopActions;
    GlobalShortcut& globalShortcut;
};

} // namespace korvel
