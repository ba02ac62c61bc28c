#pragma once

#include "core/model/Profile.hpp"

#include <QObject>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace korvel {

class KorvelApp;

// Korvel's main job, played against the sandbox with the real model and the real desktop: two profiles (one
// with the current Claude data), their apps built and opened, sessions brought over, a claude:// link handed to
// Korvel by a second start and routed to the active profile, the statuses, and screenshots of the screens.
class DemoScript : public QObject
{
    Q_OBJECT

public:
    DemoScript(KorvelApp& korvel, std::filesystem::path korvelExecutable, std::filesystem::path screenshots);

    // 0 when every step did what it should.
    QCoro::Task<int> run();

private:
    QCoro::Task<bool> waitFor(
        std::string what, std::function<bool()> done, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    QCoro::Task<> createProfiles();
    QCoro::Task<> openProfiles();
    QCoro::Task<> bringSessionsOver();
    QCoro::Task<> routeLink();
    QCoro::Task<> takeScreenshots();
    QCoro::Task<> quitProfileApps();
    void showStatuses();
    void check(bool ok, const std::string& what);
    std::string standInLog(const Profile& profile) const;

    KorvelApp& m_korvel;
    std::filesystem::path m_korvelExecutable;
    std::filesystem::path m_screenshots;
    Profile m_work;
    Profile m_personal;
    int m_failures = 0;
};

} // namespace korvel
