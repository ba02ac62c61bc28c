#include "app/ui/MoveToApplications.hpp"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <string>

namespace korvel {
namespace {

namespace fs = std::filesystem;

bool copyBundle(const fs::path& source, const fs::path& target)
{
    std::error_code error;
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
        fs::remove_all(target, error); // no half copy left behind for the next start to trip over
        return false;
    }
    return true;
}

std::optional<fs::path> copyIntoFirstDestination(const MoveToApplications::System& system)
{
    const fs::path name = system.bundle.filename();
    for (const fs::path& folder : system.destinations) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error || !fs::is_directory(folder, error))
            continue;
        const fs::path target = folder / name;
        if (fs::exists(fs::symlink_status(target, error)) && !system.moveToTrash(target))
            continue;
        if (copyBundle(system.bundle, target))
            return target;
    }
    return std::nullopt;
}

bool askWithAlert()
{
    QMessageBox box;
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle("Korvel");
    box.setText("Move Korvel to Applications?");
    box.setInformativeText("It’s running from the download. Moving it to your Applications folder lets it keep your "
                           "profiles up to date and open at login.");
    QPushButton* move = box.addButton("Move to Applications", QMessageBox::AcceptRole);
    box.addButton("Not Now", QMessageBox::RejectRole);
    box.setDefaultButton(move);
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == move;
}

void tellWithAlert()
{
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle("Korvel");
    box.setText("Couldn’t move the app");
    box.setInformativeText("Drag Korvel from the disk image into your Applications folder, then open it from there.");
    box.addButton(QMessageBox::Ok);
    box.exec();
}

} // namespace

bool MoveToApplications::isTemporaryLocation(const fs::path& bundle)
{
    const std::string path = bundle.lexically_normal().string();
    for (const char* mounts : {"/Volumes/", "/media/", "/run/media/", "/tmp/.mount_"}) {
        if (path.starts_with(mounts))
            return true;
    }
    return path.find("/AppTranslocation/") != std::string::npos;
}

MoveToApplications::System MoveToApplications::System::live(
    fs::path bundle, fs::path home, std::function<void(const fs::path&)> relaunch)
{
    System system;
    system.bundle = std::move(bundle);
    system.destinations = {"/Applications", home / "Applications"};
    system.askToMove = askWithAlert;
    system.tellMoveFailed = tellWithAlert;
    system.moveToTrash = [](const fs::path& item) { return QFile::moveToTrash(QString::fromStdString(item.string())); };
    system.stripQuarantine = [](const fs::path& target) {
        // The copy's own helper removes the attribute; nothing waits for it and a failure changes nothing.
        const fs::path tool = target / "Contents/Helpers/xattr";
        QProcess::startDetached(QString::fromStdString(tool.string()),
            {"-dr", "com.apple.quarantine", QString::fromStdString(target.string())});
    };
    system.relaunch = std::move(relaunch);
    return system;
}

std::optional<fs::path> MoveToApplications::offerIfNeeded(const System& system)
{
    if (!isTemporaryLocation(system.bundle))
        return std::nullopt;
    if (!system.askToMove())
        return std::nullopt;
    const auto target = copyIntoFirstDestination(system);
    if (!target) {
        system.tellMoveFailed();
        return std::nullopt;
    }
    system.stripQuarantine(*target);
    system.relaunch(*target);
    return target;
}

} // namespace korvel
