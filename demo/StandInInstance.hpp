#pragma once

#include <QObject>
#include <QStringList>

#include <filesystem>

class QLocalServer;

// One running stand-in per data folder, the way Chromium keeps it: while it runs, the folder holds
//     SingletonLock   → "<host name>-<process id>"
//     SingletonCookie → a random number
//     SingletonSocket → a Unix socket in a private folder under /tmp, on which it listens
// A second start for the same folder finds a live owner through SingletonLock and hands its arguments over the
// socket instead of running itself. Links left by an owner that is gone are taken over.
class StandInInstance : public QObject
{
    Q_OBJECT

public:
    explicit StandInInstance(std::filesystem::path dataDir, QObject* parent = nullptr);
    ~StandInInstance() override;

    // Becomes the folder's running instance: true. False when a live instance already holds it. Throws
    // std::runtime_error when the links or the socket cannot be made.
    bool acquire();
    // As a second start: hands `arguments` to the running instance and waits for its answer. Throws
    // std::runtime_error saying which step failed.
    void forward(const QStringList& arguments) const;

signals:
    // Arguments of a later start for the same folder.
    void received(const QStringList& arguments);

private:
    void accept();
    void removeLinks() const;

    std::filesystem::path m_dataDir;
    std::filesystem::path m_socketFolder;
    QLocalServer* m_server = nullptr;
};
