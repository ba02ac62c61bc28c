#include "app/platform/linux/PortalShortcuts.hpp"
#include "tests/app/support/Await.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/Thrown.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <unistd.h>

using namespace korvel;
using namespace korvel::test;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using ShortcutList = QList<QPair<QString, QVariantMap>>;
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// A desktop portal as GNOME's and KDE's behave on the bus: requests answer through a Response signal on the path
// the caller's token names, after the method has returned; each session holds the shortcuts bound to it.
class FakePortal : public QDBusVirtualObject
{
public:
    // `offersShortcuts`: false for a portal whose desktop has no backend for global shortcuts. `refused`: the
    // response code for a preferred trigger the desktop does not bind.
    FakePortal(QDBusConnection bus, bool offersShortcuts, std::map<QString, uint> refused = {})
        : m_bus(std::move(bus))
        , m_offersShortcuts(offersShortcuts)
        , m_refused(std::move(refused))
    {
        qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
        qDBusRegisterMetaType<ShortcutList>();
        m_bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath);
        m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == QStringLiteral("Get") && !m_offersShortcuts)
            m_bus.send(message.createErrorReply(QDBusError::UnknownInterface, QStringLiteral("no such interface")));
        else if (member == QStringLiteral("Get"))
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(2)))));
        else if (member == QStringLiteral("CreateSession")) {
            const auto options = qdbus_cast<QVariantMap>(arguments.value(0));
            const QString session =
                pathFor(QStringLiteral("session"), message.service(), options.value("session_handle_token").toString());
            sessions.insert(session);
            respond(message, options, 0, {{QStringLiteral("session_handle"), session}});
        } else if (member == QStringLiteral("BindShortcuts")) {
            const auto wanted = qdbus_cast<ShortcutList>(arguments.value(1));
            const QString trigger = wanted.value(0).second.value("preferred_trigger").toString();
            triggers.push_back(trigger.toStdString());
            const uint code = m_refused.contains(trigger) ? m_refused[trigger] : 0;
            const auto options = qdbus_cast<QVariantMap>(arguments.value(3));
            if (code == 0)
                bound[arguments.value(0).value<QDBusObjectPath>().path()] = wanted.value(0).first;
            respond(message, options, code, {{QStringLiteral("shortcuts"), QVariant::fromValue(wanted)}});
        } else if (member == QStringLiteral("Close")) {
            sessions.erase(message.path());
            bound.erase(message.path());
            m_bus.send(message.createReply());
        } else
            return false;
        return true;
    }

    // The user presses each bound shortcut; another program's session has one with the same id.
    void press()
    {
        auto all = bound;
        all[pathFor(QStringLiteral("session"), QStringLiteral(":1.999"), QStringLiteral("korvel1"))] =
            QStringLiteral("switcher");
        for (const auto& [session, id] : all) {
            QDBusMessage signal = QDBusMessage::createSignal(
                portalPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
            signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
            m_bus.send(signal);
        }
    }

    std::set<QString> sessions; // open
    std::map<QString, QString> bound; // shortcut id by open session
    std::vector<std::string> triggers;

private:
    static QString pathFor(const QString& kind, QString sender, const QString& token)
    {
        return portalPath + "/" + kind + "/" + sender.mid(1).replace('.', '_') + "/" + token;
    }

    void respond(const QDBusMessage& call, const QVariantMap& options, uint code, const QVariantMap& results)
    {
        const QString request =
            pathFor(QStringLiteral("request"), call.service(), options.value("handle_token").toString());
        m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QTimer::singleShot(0, [bus = m_bus, request, code, results]() mutable {
            QDBusMessage response = QDBusMessage::createSignal(
                request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << code << results;
            bus.send(response);
        });
    }

    QDBusConnection m_bus;
    bool m_offersShortcuts;
    std::map<QString, uint> m_refused;
};

// A session bus of the test's own, with the portal and Korvel on connections of their own.
class PortalShortcutsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            GTEST_SKIP() << "dbus-daemon is not installed";
        daemon = std::make_unique<BackgroundProcess>("/usr/bin/dbus-daemon",
            BackgroundProcess::Options {{"dbus-daemon", "--session", "--nofork", "--print-address=1"}});
        address = QString::fromStdString(daemon->waitForLine("unix:").value_or(""));
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("client");
        QDBusConnection::disconnectFromBus("portal");
    }

    QDBusConnection connect(const char* name) { return QDBusConnection::connectToBus(address, name); }

    // The user presses the shortcut: how often it fired. The signals get a while to arrive, a short one when none
    // is expected.
    int activations(FakePortal& portal, bool expected = true)
    {
        const int before = fired;
        portal.press();
        waitUntil([&] { return fired > before; }, expected ? 3s : 200ms);
        spin(50ms);
        return fired - before;
    }

    std::unique_ptr<BackgroundProcess> daemon;
    QString address;
    int fired = 0;
};

TEST_F(PortalShortcutsTest, BindsThroughThePortalAndFiresOnlyForItsOwnSession)
{
    FakePortal portal(connect("portal"), true, {{QStringLiteral("CTRL+ALT+j"), 1}});
    PortalShortcuts shortcut(connect("client"));
    shortcut.setActivationHandler([this] { ++fired; });

    await(shortcut.bind("Ctrl+Alt+K"), 5s);
    EXPECT_TRUE(shortcut.isAvailable());
    EXPECT_EQ(portal.sessions.size(), 1U);
    EXPECT_EQ(activations(portal), 1);

    // Refused: said, and the previous shortcut is gone as well.
    EXPECT_THAT(
        thrown<std::runtime_error>([&] { await(shortcut.bind("Ctrl+Alt+J"), 5s); }).what(), HasSubstr("declined"));
    EXPECT_TRUE(waitUntil([&] { return portal.sessions.empty(); }, 2s));
    EXPECT_EQ(activations(portal, false), 0);

    await(shortcut.bind("Meta+Shift+F5"), 5s);
    EXPECT_EQ(activations(portal), 1);
    await(shortcut.bind(""), 5s);
    EXPECT_TRUE(waitUntil([&] { return portal.sessions.empty(); }, 2s));
    EXPECT_EQ(activations(portal, false), 0);
    EXPECT_THAT(portal.triggers, ElementsAre("CTRL+ALT+k", "CTRL+ALT+j", "SHIFT+LOGO+F5"));
}

TEST_F(PortalShortcutsTest, ALaterBindWinsOverOneStillWaitingForThePortal)
{
    FakePortal portal(connect("portal"), true);
    PortalShortcuts shortcut(connect("client"));
    shortcut.setActivationHandler([this] { ++fired; });
    auto first = shortcut.bind("Ctrl+Alt+K");
    await(shortcut.bind("Ctrl+Alt+L"), 5s);
    await(std::move(first), 5s);
    EXPECT_TRUE(waitUntil([&] { return portal.sessions.size() == 1; }, 2s));
    EXPECT_EQ(activations(portal), 1);
    EXPECT_THAT(portal.triggers, ElementsAre("CTRL+ALT+l"));
}

TEST_F(PortalShortcutsTest, WithoutAPortalThatOffersShortcutsTheDesktopHasNone)
{
    for (const bool portalRuns : {false, true}) {
        std::optional<FakePortal> portal;
        if (portalRuns)
            portal.emplace(connect("portal"), false);
        PortalShortcuts shortcut(connect("client"));
        EXPECT_THAT(thrown<std::runtime_error>([&] { await(shortcut.bind("Ctrl+Alt+K"), 5s); }).what(),
            HasSubstr("offers no global shortcuts"));
        EXPECT_FALSE(shortcut.isAvailable());
    }
}

} // namespace
