#include "app/ui/AppDelegate.hpp"

#include "app/model/AppModel.hpp"

namespace korvel {

AppDelegate::AppDelegate(MoveToApplications::System moveSystem, QObject* parent)
    : QObject(parent)
    , m_moveSystem(std::move(moveSystem))
{ }

void AppDelegate::connect(AppModel& model)
{
    m_model = &model;
}

void AppDelegate::applicationDidFinishLaunching()
{
    MoveToApplications::offerIfNeeded(m_moveSystem);
}

void AppDelegate::open(const std::vector<std::string>& urls)
{
    if (m_model && !urls.empty())
        m_model->handle(urls);
}

} // namespace korvel
