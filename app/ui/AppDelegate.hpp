#pragma once

#include "app/ui/MoveToApplications.hpp"

#include <QObject>
#include <QPointer>

#include <string>
#include <vector>

namespace korvel {

class AppModel;

// What the desktop tells Korvel as an application: that it finished launching, and links handed to it (from the
// single-instance socket). Links that arrive before the model is connected are dropped.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(MoveToApplications::System moveSystem, QObject* parent = nullptr);

    // Hands the delegate the model; idempotent.
    void connect(AppModel& model);
    AppModel* model() const { return m_model; }

    // Offers to move Korvel into an Applications folder when it runs from a disk image or the like.
    void applicationDidFinishLaunching();
    // Korvel lives on in the tray when its windows close.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    // Forwards the links, in the order received, to the model's routing.
    void open(const std::vector<std::string>& urls);

private:
    MoveToApplications::System m_moveSystem;
    QPointer<AppModel> m_model;
};

} // namespace korvel
