// What a screen reader finds in Korvel: the management window and the new-profile sheet read through AT-SPI, the
// desktop's accessibility bus, by an independent client (pyatspi), as Orca would. Runs on a virtual desktop with a
// session bus of its own (dbus-run-session, see CMakeLists.txt).

#include "app/ui/ContentView.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/SwitcherWindow.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/app/support/ModelSandbox.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"

#include <QApplication>
#include <QProcess>
#include <QtTest/QTest>
#include <gmock/gmock.h>

#include <cstdlib>

namespace korvel::test {
namespace {

using ::testing::Contains;
using namespace std::chrono_literals;

constexpr const char* applicationName = "korvel-accessibility-test";

class AccessibilityEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(std::getenv("DISPLAY") && std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            << "run through dbus-run-session and scripts/virtual-desktop";
        m_runtime = std::make_unique<TempDir>();
        ::setenv("XDG_RUNTIME_DIR", m_runtime->path().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1); // no screen reader runs to ask for it
        static int argc = 1;
        static char name[] = "korvel-accessibility-test";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName(applicationName);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void TearDown() override
    {
        m_application.reset();
        m_runtime.reset();
        m_caches.TearDown();
    }

private:
    std::unique_ptr<TempDir> m_runtime;
    std::unique_ptr<QApplication> m_application;
    DrawingCacheCleanup m_caches;
};
[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new AccessibilityEnvironment);

struct Element
{
    std::string role;
    std::string name;
    bool checked;
    friend bool operator==(const Element&, const Element&) = default;
};

void PrintTo(const Element& element, std::ostream* out)
{
    *out << element.role << " “" << element.name << "”" << (element.checked ? " (checked)" : "");
}

// Every showing element of the application as the accessibility bus reports it, read while the event loop runs
// (each question is answered by this process).
std::vector<Element> accessibleTree()
{
    QProcess reader; // Debian's own interpreter, where python3-pyatspi is installed
    reader.start("/usr/bin/python3", {KORVEL_SOURCE_DIR "/tests/app/ui/accessible_tree.py", applicationName});
    EXPECT_TRUE(reader.waitForStarted());
    EXPECT_TRUE(waitUntil([&reader] { return reader.state() == QProcess::NotRunning; }, 60s));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    std::vector<Element> elements;
    for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            elements.push_back({fields[0].toStdString(), fields[1].toStdString(), fields[2] == "checked"});
    }
    return elements;
}

using Accessibility = ModelSandbox;

TEST_F(Accessibility, EveryControlHasANameAndARoleAScreenReaderCanTell)
{
    fake.userDefaults.setBool(AppModel::didCompleteWelcomeKey, true);
    const Profile work = makeProfile("Work");
    const Profile home = makeProfile("Home", ProfileColor::Orange);
    storeProfiles({work, home});
    buildApp(work);
    AppModel& model = start();
    fake.workspace.bringToFront(launchApp(work));
    model.setSelection(work.id);
    settle();
    ContentView window(model, fake.platform());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    model.setShowNewProfile(true);
    ASSERT_TRUE(waitUntil([&window] { return window.newProfileSheet() && window.newProfileSheet()->isVisible(); }));

    const std::vector<Element> tree = accessibleTree();
    ASSERT_FALSE(tree.empty());
    // Colours are radio buttons named after their colour, the chosen one checked, in the form and in the sheet.
    EXPECT_THAT(tree, Contains(Element {"radio button", "Blue", true}).Times(1)) << "Work's colour";
    EXPECT_THAT(tree, Contains(Element {"radio button", "Red", true}).Times(1)) << "the sheet's suggestion";
    EXPECT_THAT(tree, Contains(Element {"radio button", "Graphite", false}).Times(2));
    // Sidebar rows by profile and state; badges and status dots as named images.
    EXPECT_THAT(tree, Contains(Element {"list item", "Work, Active", false}));
    EXPECT_THAT(tree, Contains(Element {"list item", "Home, Needs setup", false}));
    EXPECT_THAT(tree, Contains(Element {"image", "W badge, Blue", false})) << "the form's";
    EXPECT_THAT(tree, Contains(Element {"image", "P badge, Red", false})) << "the sheet's, for its suggestion";
    EXPECT_THAT(tree, Contains(Element {"image", "Running", false}));
    EXPECT_THAT(tree, Contains(Element {"text", "Name", false}).Times(2)) << "the form's and the sheet's name field";
    EXPECT_THAT(tree, Contains(Element {"push button", "Delete Profile…", false}));
    // Nothing a user can operate is left nameless.
    for (const Element& element : tree) {
        const bool operable = element.role == "push button" || element.role == "radio button" ||
            element.role == "check box" || element.role == "text" || element.role == "list item" ||
            element.role == "image" || element.role == "menu item";
        EXPECT_FALSE(operable && element.name.empty()) << element.role;
    }
}

TEST_F(Accessibility, TheSwitcherNamesItsSearchFieldItsListAndEachProfileWithItsState)
{
    const Profile work = makeProfile("Work");
    storeProfiles({work, makeProfile("Zoë", ProfileColor::Orange)});
    AppModel& model = start();
    fake.workspace.bringToFront(launchApp(work));
    settle();
    SwitcherWindow switcher(model);
    switcher.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&switcher));
    const std::vector<Element> tree = accessibleTree();
    EXPECT_THAT(tree, Contains(Element {"text", "Find a profile", false}));
    EXPECT_THAT(tree, Contains(Element {"list", "Profiles", false}));
    EXPECT_THAT(tree, Contains(Element {"list item", "Work, Active", false}));
    EXPECT_THAT(tree, Contains(Element {"list item", "Zoë, Needs setup", false}));
}

} // namespace
} // namespace korvel::test
