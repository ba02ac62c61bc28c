#pragma once

#include <filesystem>
#include <functional>

namespace korvel {

// Serialises headless commands on one profile list: held from before the list is loaded until the last save,
// so that two commands running at once cannot lose each other's change. An advisory lock (flock) on
// ".profiles.lock" in the support folder, which is created (0700) when missing; the system drops it when the
// process ends, however it ends.
class ProfileListLock
{
public:
    // Blocks while another command holds the lock; `waiting` is called once before blocking. Throws FileError
    // when the lock file cannot be created.
    explicit ProfileListLock(const std::filesystem::path& supportDir, const std::function<void()>& waiting = {});
    ~ProfileListLock();
    ProfileListLock(const ProfileListLock&) = delete;
    ProfileListLock& operator=(const ProfileListLock&) = delete;

    static constexpr const char* fileName = ".profiles.lock";

private:
    int m_fd = -1;
};

} // namespace korvel
