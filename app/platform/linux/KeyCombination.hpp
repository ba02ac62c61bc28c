#pragma once

#include <cstdint>
#include <string>

namespace korvel {

// One key with its modifiers, read from Qt's portable text ("Ctrl+Alt+K") and named the way the X server (a
// keysym) and the desktop portal (xkb names) know it.
struct KeyCombination
{
    std::string text; // as given, for messages
    std::uint32_t keysym = 0;
    std::string keyName; // xkb's name of the keysym: "k", "F5", "Prior"
    bool control = false;
    bool alt = false;
    bool shift = false;
    bool meta = false;

    // Throws std::invalid_argument with a reason fit for the user: not one combination, a key without a name in
    // both worlds, or no Ctrl, Alt or Meta with a key other than a function key (it would take that key away from
    // every program).
    static KeyCombination parse(const std::string& text);
    // As the desktop portal's preferred trigger: "CTRL+ALT+k".
    std::string portalTrigger() const;
};

} // namespace korvel
