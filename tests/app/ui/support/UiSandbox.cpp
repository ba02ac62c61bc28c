#include "tests/app/ui/support/UiSandbox.hpp"

#include <QApplication>
#include <QThreadPool>
#include <QtTest/QTest>

#include <filesystem>

namespace korvel::test {

UiSandbox::~UiSandbox()
{
    window.reset();
    settle();
    stopApp();
}

KorvelApp& UiSandbox::makeApp()
{
    MoveToApplications::System staysPut;
    staysPut.bundle = ownBundle;
    app = std::make_unique<KorvelApp>(paths, fake.platform(), launcher, staysPut);
    return *app;
}

void UiSandbox::settleApp()
{
    ASSERT_TRUE(app);
    const auto idle = [this] {
        return app->model().busy().empty() && !app->model().isSyncingSessions() &&
            QThreadPool::globalInstance()->activeThreadCount() == 0;
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(waitUntil(idle)) << "the application's model did not settle";
        spin(std::chrono::milliseconds(30)); // tasks that were queued start now
    }
    ASSERT_TRUE(waitUntil(idle));
}

void UiSandbox::stopApp()
{
    if (!app)
        return;
    settleApp();
    app.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

ContentView& UiSandbox::openWindow()
{
    if (!model)
        start();
    window = std::make_unique<ContentView>(*model, fake.platform());
    showAndWait(*window);
    return *window;
}

void UiSandbox::showAndWait(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
}

void UiSandbox::screenshot(QWidget& widget, const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::path(KORVEL_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(folder);
    QApplication::processEvents();
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((folder / (name + ".png")).string())));
}

} // namespace korvel::test
