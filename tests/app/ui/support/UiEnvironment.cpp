// Every interface test program runs on its own virtual desktop with a real tray; the application object lives
// for the whole program.

#include "tests/app/ui/support/VirtualDesktop.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class UiEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_desktop = std::make_unique<korvel::test::VirtualDesktop>();
        static int argc = 1;
        static char name[] = "korvel-ui-tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // trayer claims the tray selection a moment after it starts.
        QElapsedTimer clock;
        clock.start();
        while (!QSystemTrayIcon::isSystemTrayAvailable() && clock.elapsed() < 15000) {
            QApplication::processEvents();
            QThread::msleep(50);
        }
        ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "trayer did not provide a tray";
    }

    void TearDown() override
    {
        m_application.reset();
        m_desktop.reset();
        m_caches.TearDown(); // the fonts Qt and the badges loaded
    }

private:
    std::unique_ptr<korvel::test::VirtualDesktop> m_desktop;
    std::unique_ptr<QApplication> m_application;
    korvel::test::DrawingCacheCleanup m_caches;
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

} // namespace
