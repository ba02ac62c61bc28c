#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

namespace korvel {

// One request to the desktop portal, from before its call until its Response signal or the end of the wait.
// finished() is emitted once: a coroutine awaiting it is resumed once, however many answers arrive.
class PortalRequest : public QObject
{
    Q_OBJECT

public:
    PortalRequest(QDBusConnection bus, QString path, std::chrono::milliseconds wait);
    ~PortalRequest() override;
    PortalRequest(const PortalRequest&) = delete;
    PortalRequest& operator=(const PortalRequest&) = delete;

    // The portal named another path for the request: its answer comes there.
    void follow(const QString& path);
    bool isFinished() const { return m_finished; }
    // The Response signal; nothing when the wait ended first.
    const std::optional<QDBusMessage>& response() const { return m_response; }

signals:
    void finished();

private slots:
    void receive(const QDBusMessage& message);

private:
    void listen(bool on);
    void finish();

    QDBusConnection m_bus;
    QString m_path;
    QTimer m_deadline;
    std::optional<QDBusMessage> m_response;
    bool m_finished = false;
};

} // namespace korvel
