#include "core/building/CloneStatus.hpp"

#include "core/building/Wording.hpp"

namespace korvel {

std::string CloneStatus::summary() const
{
    switch (m_kind) {
    case Kind::Ready:
        return "Ready · Claude " + m_first;
    case Kind::Outdated:
        return "Update available (" + m_first + " → " + m_second + ")";
    case Kind::Damaged:
        return "Needs rebuild: " + m_first;
    case Kind::SourceMissing:
        return Wording::text(Wording::Text::ClaudeMissingSummary);
    case Kind::NotBuilt:
        break;
    }
    return "App not created yet";
}

bool CloneStatus::needsBuild() const
{
    return m_kind == Kind::Outdated || m_kind == Kind::Damaged || m_kind == Kind::NotBuilt;
}

} // namespace korvel
