#pragma once

#include <optional>
#include <string>

namespace korvel {

// The user's settings store. Main thread only.
class UserDefaults
{
public:
    virtual ~UserDefaults() = default;

    // Makes `value` the answer of boolForKey(key) while nothing is stored under `key`; not persisted.
    virtual void registerDefault(const std::string& key, bool value) = 0;
    // The stored value, else the registered default, else false.
    virtual bool boolForKey(const std::string& key) const = 0;
    // Stores `value` under `key`.
    virtual void setBool(const std::string& key, bool value) = 0;
    // The stored text, else nothing.
    virtual std::optional<std::string> stringForKey(const std::string& key) const = 0;
    // Stores `value` under `key`.
    virtual void setString(const std::string& key, const std::string& value) = 0;
};

} // namespace korvel
