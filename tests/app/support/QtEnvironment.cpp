// Every model test needs an application object for its event loop; one per test program. Builds draw badge
// icons, so the drawing caches are released at the end for LeakSanitizer.

#include "tests/support/DrawingCacheCleanup.hpp"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "korvel-tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_application;
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
[[maybe_unused]] const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new korvel::test::DrawingCacheCleanup);

} // namespace
