#pragma once

#include <string>

namespace korvel {

// Health of one profile app, as the builder's check finds it on disk.
class CloneStatus
{
public:
    enum class Kind { Ready, Outdated, Damaged, SourceMissing, NotBuilt };

    static CloneStatus ready(std::string version) { return {Kind::Ready, std::move(version), {}}; }
    static CloneStatus outdated(std::string installed, std::string available)
    {
        return {Kind::Outdated, std::move(installed), std::move(available)};
    }
    static CloneStatus damaged(std::string reason) { return {Kind::Damaged, std::move(reason), {}}; }
    static CloneStatus sourceMissing() { return {Kind::SourceMissing, {}, {}}; }
    static CloneStatus notBuilt() { return {Kind::NotBuilt, {}, {}}; }

    Kind kind() const { return m_kind; }
    // ready: the version built from; outdated: the installed version; damaged: the reason.
    const std::string& version() const { return m_first; }
    const std::string& installed() const { return m_first; }
    const std::string& reason() const { return m_first; }
    // outdated: the version now available.
    const std::string& available() const { return m_second; }

    // The one-line text shown in the interface.
    std::string summary() const;
    // True for outdated, damaged and notBuilt.
    bool needsBuild() const;

    friend bool operator==(const CloneStatus&, const CloneStatus&) = default;

private:
    CloneStatus(Kind kind, std::string first, std::string second)
        : m_kind(kind)
        , m_first(std::move(first))
        , m_second(std::move(second))
    { }

    Kind m_kind;
    std::string m_first;
    std::string m_second;
};

} // namespace korvel
