#pragma once

#include "app/platform/Platform.hpp"
#include "app/platform/fake/FakeClock.hpp"
#include "app/platform/fake/FakeDesktopActions.hpp"
#include "app/platform/fake/FakeFileViewer.hpp"
#include "app/platform/fake/FakeGlobalShortcut.hpp"
#include "app/platform/fake/FakeLinkHandler.hpp"
#include "app/platform/fake/FakeLoginItem.hpp"
#include "app/platform/fake/FakeMainBundle.hpp"
#include "app/platform/fake/FakeOwnApplication.hpp"
#include "app/platform/fake/FakePasteboard.hpp"
#include "app/platform/fake/FakeTerminal.hpp"
#include "app/platform/fake/FakeTrash.hpp"
#include "app/platform/fake/FakeUserDefaults.hpp"
#include "app/platform/fake/FakeWorkspace.hpp"

namespace korvel {

// Every fake service in one place; platform() hands them to a model. Must outlive the models that use it.
struct FakePlatform
{
    FakeWorkspace workspace;
    FakeOwnApplication ownApplication;
    FakeUserDefaults userDefaults;
    FakeLoginItem loginItem;
    FakeLinkHandler linkHandler;
    FakeTrash trash;
    FakeFileViewer fileViewer;
    FakePasteboard pasteboard;
    FakeTerminal terminal;
    FakeMainBundle mainBundle;
    FakeClock clock;
    FakeDesktopActions desktopActions;
    FakeGlobalShortcut globalShortcut;

    Platform platform()
    {
        return Platform {workspace, ownApplication, userDefaults, loginItem, linkHandler, trash, fileViewer, pasteboard,
            terminal, mainBundle, clock, desktopActions, globalShortcut};
    }
};

} // namespace korvel
